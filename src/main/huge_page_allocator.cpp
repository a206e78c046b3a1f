// A cv::Mat allocator that maps large pixel buffers with huge pages requested.
#include "main/huge_page_allocator.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include <malloc.h>
#include <sys/mman.h>

#include <opencv2/core.hpp>

#include "main/free_ranges.h"

namespace vantorel {

namespace {

constexpr size_t kLargeImageBytes = size_t{4} << 20;
constexpr size_t kHugePageBytes = size_t{2} << 20;

size_t MappedSize(size_t bytes) { return (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes; }

// Released images are kept mapped and reused for the next ones: the pipeline makes many
// images of a handful of sizes, and a fresh mapping costs the kernel a cleared page for
// every page touched, where a kept one is already in place.
class ImagePool {
 public:
  // Maps under the lock, so that what is held is counted exactly; large images are few
  // and a mapping is cheap until its pages are touched.
  uchar* Take(size_t bytes) {
    const size_t size = MappedSize(bytes);
    std::lock_guard<std::mutex> hold(lock_);
    if (std::optional<uintptr_t> kept = ranges_.Take(size)) return reinterpret_cast<uchar*>(*kept);
    Unmap(ranges_.MakeRoomFor(size));
    uchar* data = MapAligned(size);
    if (data == nullptr) {
      // Kept ranges count against an address-space or commit limit: try once without them.
      Unmap(ranges_.TakeAll());
      data = MapAligned(size);
    }
    if (data == nullptr) CV_Error(cv::Error::StsNoMem, "out of memory for an image");
    ranges_.Adopt(size);
    return data;
  }

  void Give(uchar* data, size_t bytes) {
    std::vector<FreeRanges::Range> surplus;
    {
      std::lock_guard<std::mutex> hold(lock_);
      surplus = ranges_.Give(reinterpret_cast<uintptr_t>(data), MappedSize(bytes));
    }
    Unmap(surplus);
  }

 private:
  static void Unmap(const std::vector<FreeRanges::Range>& ranges) {
    for (const FreeRanges::Range& range : ranges) ::munmap(reinterpret_cast<void*>(range.start), range.size);
  }

  // Huge pages only cover 2 MiB-aligned stretches, so map one huge page more than needed
  // and give back the unaligned head and tail.
  static uchar* MapAligned(size_t size) {
    void* p = ::mmap(nullptr, size + kHugePageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    if (aligned > start) ::munmap(p, aligned - start);
    const uintptr_t end = start + size + kHugePageBytes;
    if (end > aligned + size) ::munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    // Only a request: where the kernel has no huge pages to give, small pages are used.
    ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<uchar*>(aligned);
  }

  std::mutex lock_;
  FreeRanges ranges_{kHugePageBytes};
};

// Lives as long as the process: matrices may be released during static destruction.
ImagePool& Pool() {
  static ImagePool* pool = new ImagePool();
  return *pool;
}

class HugePageAllocator : public cv::MatAllocator {
 public:
  cv::UMatData* allocate(int dims, const int* sizes, int type, void* user_data, size_t* step,
                         cv::AccessFlag, cv::UMatUsageFlags) const override {
    size_t total = CV_ELEM_SIZE(type);
    for (int i = dims - 1; i >= 0; --i) {
      if (step != nullptr) {
        if (user_data != nullptr && step[i] != cv::Mat::AUTO_STEP) {
          CV_Assert(total <= step[i]);
          total = step[i];
        } else {
          step[i] = total;
        }
      }
      const size_t extent = static_cast<size_t>(sizes[i]);
      if (extent != 0 && total > SIZE_MAX / extent) CV_Error(cv::Error::StsNoMem, "image too large");
      total *= extent;
    }
    // Large images are rounded up to whole huge pages and mapped with one more.
    if (total > SIZE_MAX - 2 * kHugePageBytes) CV_Error(cv::Error::StsNoMem, "image too large");
    uchar* data = static_cast<uchar*>(user_data);
    if (data == nullptr) data = total >= kLargeImageBytes ? Pool().Take(total) : static_cast<uchar*>(cv::fastMalloc(total));
    cv::UMatData* u = new cv::UMatData(this);
    u->data = u->origdata = data;
    u->size = total;
    if (user_data != nullptr) u->flags |= cv::UMatData::USER_ALLOCATED;
    return u;
  }

  bool allocate(cv::UMatData* u, cv::AccessFlag, cv::UMatUsageFlags) const override { return u != nullptr; }

  void deallocate(cv::UMatData* u) const override {
    if (u == nullptr) return;
    if (!(u->flags & cv::UMatData::USER_ALLOCATED)) {
      if (u->size >= kLargeImageBytes) {
        Pool().Give(u->origdata, u->size);
      } else {
        cv::fastFree(u->origdata);
      }
      u->origdata = nullptr;
    }
    delete u;
  }
};

}  // namespace

void UseHugePagesForLargeImages() {
  // The filters allocate and free many working buffers of a few hundred kilobytes. Keep
  // them in the heap, where freed memory is reused, instead of a fresh mapping each time
  // whose every page faults again.
  ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(kLargeImageBytes));
  ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
  // Lives as long as the process: matrices may be released during static destruction.
  static HugePageAllocator* allocator = new HugePageAllocator();
  cv::Mat::setDefaultAllocator(allocator);
}

}  // namespace vantorel
