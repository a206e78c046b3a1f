#include "imagedehaze/huge_page_allocator.h"

#include <sys/mman.h>

#include <cstdint>

namespace vantorel {

namespace {

constexpr size_t kLargePage = size_t{2} << 20;

// The mapping holds the buffer rounded up to whole large pages, and one more large page
// to align it in.
size_t MappedLength(size_t bytes) { return (bytes + kLargePage - 1) / kLargePage * kLargePage + kLargePage; }

class HugePages : public cv::MatAllocator {
 public:
  cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
                         cv::UMatUsageFlags usage) const override {
    size_t bytes = CV_ELEM_SIZE(type);
    for (int i = 0; i < dims; ++i) bytes *= static_cast<size_t>(sizes[i]);
    if (data != nullptr || bytes < kLargeImageBytes) {
      return cv::Mat::getDefaultAllocator()->allocate(dims, sizes, type, data, step, flags, usage);
    }
    void* mapping = mmap(nullptr, MappedLength(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) CV_Error(cv::Error::StsNoMem, "out of memory for a frame-size image");
    const uintptr_t start = reinterpret_cast<uintptr_t>(mapping);
    auto* const aligned = reinterpret_cast<uchar*>((start + kLargePage - 1) / kLargePage * kLargePage);
    // Only a request: without large pages to spare the kernel uses small ones.
    madvise(aligned, MappedLength(bytes) - kLargePage, MADV_HUGEPAGE);
    if (step != nullptr) {
      size_t row = CV_ELEM_SIZE(type);
      for (int i = dims - 1; i >= 0; --i) {
        step[i] = row;
        row *= static_cast<size_t>(sizes[i]);
      }
    }
    auto* const u = new cv::UMatData(this);
    u->data = u->origdata = aligned;
    u->size = bytes;
    u->userdata = mapping;
    return u;
  }

  bool allocate(cv::UMatData* u, cv::AccessFlag, cv::UMatUsageFlags) const override { return u != nullptr; }

  void deallocate(cv::UMatData* u) const override {
    if (u == nullptr) return;
    munmap(u->userdata, MappedLength(u->size));
    delete u;
  }
};

}  // namespace

cv::MatAllocator* HugePageAllocator() {
  static HugePages allocator;
  return &allocator;
}

}  // namespace vantorel
