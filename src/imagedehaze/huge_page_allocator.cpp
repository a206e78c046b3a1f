#include "imagedehaze/huge_page_allocator.h"

#include <pthread.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdint>

#include "imagedehaze/kept_mappings.h"

namespace vantorel {

namespace {

constexpr size_t kLargePage = size_t{2} << 20;

// What freed images may leave mapped for later ones: the images of one call at 16
// megapixels, for each of a few calls at once (a batch's jobs), are well inside it.
constexpr size_t kMostKeptBytes = size_t{1} << 30;

// The mapping holds the buffer rounded up to whole large pages, and one more large page
// to align it in.
size_t MappedLength(size_t bytes) { return (bytes + kLargePage - 1) / kLargePage * kLargePage + kLargePage; }

std::atomic<bool> keeping{false};

// Never destroyed: a worker may free an image while the process exits.
KeptMappings& Kept() {
  static KeptMappings* const kept = [] {
    auto* made = new KeptMappings(kMostKeptBytes);
    // fork() copies only the calling thread: the child must not find the lock held by
    // another.
    pthread_atfork([] { Kept().Lock().lock(); }, [] { Kept().Lock().unlock(); }, [] { Kept().Lock().unlock(); });
    return made;
  }();
  return *kept;
}

// A mapping of at least `length` bytes: a kept one when one fits, else a new one marked for
// large pages (a kept one still is). MAP_FAILED when even a new one fails without the kept
// ones in its way.
Mapping MapAtLeast(size_t length) {
  Mapping mapping;
  if (Kept().Take(length, mapping)) return mapping;
  mapping.length = length;
  mapping.start = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping.start == MAP_FAILED) {
    Kept().UnmapAll();
    mapping.start = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  }
  // Only a request: without large pages to spare the kernel uses small ones.
  if (mapping.start != MAP_FAILED) madvise(mapping.start, length, MADV_HUGEPAGE);
  return mapping;
}

class HugePages : public cv::MatAllocator {
 public:
  cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
                         cv::UMatUsageFlags usage) const override {
    size_t bytes = CV_ELEM_SIZE(type);
    for (int i = 0; i < dims; ++i) bytes *= static_cast<size_t>(sizes[i]);
    if (data != nullptr || bytes < kLargeImageBytes) {
      return cv::Mat::getDefaultAllocator()->allocate(dims, sizes, type, data, step, flags, usage);
    }
    const Mapping mapping = MapAtLeast(MappedLength(bytes));
    if (mapping.start == MAP_FAILED) CV_Error(cv::Error::StsNoMem, "out of memory for a frame-size image");
    const uintptr_t start = reinterpret_cast<uintptr_t>(mapping.start);
    auto* const aligned = reinterpret_cast<uchar*>((start + kLargePage - 1) / kLargePage * kLargePage);
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
    u->userdata = new Mapping(mapping);
    return u;
  }

  bool allocate(cv::UMatData* u, cv::AccessFlag, cv::UMatUsageFlags) const override { return u != nullptr; }

  void deallocate(cv::UMatData* u) const override {
    if (u == nullptr) return;
    auto* const mapping = static_cast<Mapping*>(u->userdata);
    if (keeping) {
      Kept().Keep(*mapping);
    } else {
      munmap(mapping->start, mapping->length);
    }
    delete mapping;
    delete u;
  }
};

}  // namespace

cv::MatAllocator* HugePageAllocator() {
  static HugePages allocator;
  return &allocator;
}

size_t KeptMappingBytes() { return Kept().KeptBytes(); }

void KeepFreedMappings(bool keep) {
  keeping = keep;
  if (!keep) Kept().UnmapAll();
}

}  // namespace vantorel
