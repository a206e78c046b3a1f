// A cv::Mat allocator that maps large pixel buffers with huge pages requested.
#include "main/huge_page_allocator.h"

#include <cstdint>
#include <mutex>

#include <malloc.h>
#include <sys/mman.h>

#include <opencv2/core.hpp>

namespace vantorel {

namespace {

constexpr size_t kLargeImageBytes = size_t{4} << 20;
constexpr size_t kHugePageBytes = size_t{2} << 20;

size_t MappedSize(size_t bytes) { return (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes; }

// A few released mappings kept for the next image of the same size. The pipeline makes
// many images of a handful of sizes one after another, and a fresh mapping costs the
// kernel a cleared page for every page touched; a kept one is already in place.
class MappingCache {
 public:
  uchar* Take(size_t size) {
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < count_; ++i) {
      if (kept_[i].size == size) {
        uchar* data = kept_[i].data;
        kept_[i] = kept_[--count_];
        return data;
      }
    }
    return nullptr;
  }

  // Keeps the mapping, or unmaps the oldest kept one to make room: at most kSlots stay.
  void Give(uchar* data, size_t size) {
    Kept evicted{};
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (count_ == kSlots) {
        evicted = kept_[0];
        for (size_t i = 1; i < count_; ++i) kept_[i - 1] = kept_[i];
        --count_;
      }
      kept_[count_++] = {data, size};
    }
    if (evicted.data != nullptr) ::munmap(evicted.data, evicted.size);
  }

 private:
  struct Kept {
    uchar* data;
    size_t size;
  };
  static constexpr size_t kSlots = 2;
  std::mutex lock_;
  Kept kept_[kSlots] = {};
  size_t count_ = 0;
};

MappingCache& Cache() {
  static MappingCache* cache = new MappingCache();
  return *cache;
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
    uchar* data = static_cast<uchar*>(user_data);
    if (data == nullptr) data = total >= kLargeImageBytes ? Map(total) : static_cast<uchar*>(cv::fastMalloc(total));
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
        Cache().Give(u->origdata, MappedSize(u->size));
      } else {
        cv::fastFree(u->origdata);
      }
      u->origdata = nullptr;
    }
    delete u;
  }

 private:
  // Huge pages only cover 2 MiB-aligned stretches, so map one huge page more than needed
  // and give back the unaligned head and tail.
  static uchar* Map(size_t bytes) {
    const size_t size = MappedSize(bytes);
    if (uchar* kept = Cache().Take(size)) return kept;
    void* p = ::mmap(nullptr, size + kHugePageBytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) CV_Error(cv::Error::StsNoMem, "out of memory for an image");
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    if (aligned > start) ::munmap(p, aligned - start);
    const uintptr_t end = start + size + kHugePageBytes;
    if (end > aligned + size) ::munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    // Only a request: where the kernel has no huge pages to give, small pages are used.
    ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<uchar*>(aligned);
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
