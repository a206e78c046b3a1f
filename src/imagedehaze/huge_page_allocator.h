// Large images on the processor's large (2 MB) pages. A picture of 12 megapixels works in
// about 260 MB: on 4 KB pages that is some 66 000 page faults per call, each one a trip
// into the kernel; on 2 MB pages it is about 130. The kernel backs such a buffer with large
// pages when it can, and with small ones otherwise; the contents are the same either way.
#pragma once

#include <cstddef>

#include <opencv2/core.hpp>

namespace vantorel {

// The size from which the C library maps every buffer afresh anyway, and unmaps it on
// release: buffers this large lose nothing by being mapped on their own. Smaller ones stay
// with the library's allocator, which reuses its memory from call to call.
constexpr size_t kLargeImageBytes = size_t{32} << 20;

// An allocator for cv::Mat (set as its `allocator` before create()) that maps buffers of
// at least kLargeImageBytes on their own, aligned to 2 MB and marked for large pages.
cv::MatAllocator* HugePageAllocator();

// Whether a freed buffer's mapping is kept for a later buffer that fits (kept_mappings.h)
// rather than unmapped: off until a caller that dehazes picture after picture turns it on.
// What a kept buffer held is still in it, so only images that write every value before
// reading it belong with this allocator. Turning it off unmaps what is kept.
void KeepFreedMappings(bool keep);

// The bytes of the mappings kept.
size_t KeptMappingBytes();

}  // namespace vantorel
