// Mappings of freed large images, kept for the next large image that fits. A fresh mapping's
// pages are faulted in and zeroed by the kernel on first touch: for a batch of
// 16-megapixel photos about a tenth of its time on the machine we measure on. A kept
// mapping's pages are still there, so an image that takes it starts writing at once.
//
// A kept mapping is marked MADV_FREE: the kernel may take its pages back whenever it needs
// memory, without writing them anywhere. An image that later takes such a mapping finds
// fresh zeroed pages where they were taken, and the old contents elsewhere; the pipeline
// reads nothing of a working image before writing it, so either is the same to it.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>

namespace vantorel {

struct Mapping {
  void* start = nullptr;
  size_t length = 0;  // bytes, a multiple of the page size
};

class KeptMappings {
 public:
  // Keeps at most `most_bytes` of mappings: beyond that the oldest are unmapped.
  explicit KeptMappings(size_t most_bytes) : most_bytes_(most_bytes) {}
  ~KeptMappings() { UnmapAll(); }
  KeptMappings(const KeptMappings&) = delete;
  KeptMappings& operator=(const KeptMappings&) = delete;

  // The smallest kept mapping of at least `length` bytes, no longer kept; false when there
  // is none.
  bool Take(size_t length, Mapping& mapping);

  // Keeps `mapping` (its pages marked free for the kernel to take), or unmaps it when it
  // cannot be marked or is larger than all that may be kept.
  void Keep(const Mapping& mapping);

  // Unmaps every kept mapping: for a mapping that failed, which they may have crowded out.
  void UnmapAll();

  size_t KeptBytes();

  // The lock, held across fork() by the allocator so that the child finds it free.
  std::mutex& Lock() { return lock_; }

 private:
  const size_t most_bytes_;
  std::mutex lock_;
  std::deque<Mapping> kept_;  // the oldest first
  size_t kept_bytes_ = 0;
};

}  // namespace vantorel
