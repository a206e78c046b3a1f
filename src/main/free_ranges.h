// Bookkeeping of released address ranges kept for reuse, over plain addresses: the
// caller maps and unmaps, this class only decides which range serves which request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace vantorel {

// Every start and size given to this class is a multiple of `unit` (a huge page for the
// image allocator), and so is every range it returns: a split cuts a range at
// start + size, and what is unmapped is cut in whole units.
//
// Kept memory stays resident, so two bounds hold what is kept:
// - the bytes held, handed out and free, never exceed the most ever handed out at once:
//   room is made before a fresh range is counted (MakeRoomFor), so the peak is where it
//   would be if every release were unmapped at once;
// - at most the largest range ever handed out and a third of it stays free. The
//   pipeline works on a float three-channel picture and planes a third of its size, and
//   releases about one of each before asking again; more kept would only raise the
//   process's footprint while the live images shrink.
// Where a bound is exceeded, the smallest free ranges go first: any request they could
// serve, the larger ones serve as well, split. The last one is cut only by what is needed.
class FreeRanges {
 public:
  struct Range {
    uintptr_t start;
    size_t size;
    bool operator==(const Range& other) const { return start == other.start && size == other.size; }
  };

  explicit FreeRanges(size_t unit) : unit_(unit) {}

  // The smallest free range of at least `size` bytes, or nothing. Its first `size` bytes
  // are handed out; the rest stays free.
  std::optional<uintptr_t> Take(size_t size);

  // A handed-out range comes back and is merged with the free ranges it touches.
  // Returns what to unmap to respect the bound on free bytes.
  std::vector<Range> Give(uintptr_t start, size_t size);

  // Nothing free fits `size`, and the caller is about to map that much afresh: returns
  // the free ranges, or parts of them, to unmap first.
  std::vector<Range> MakeRoomFor(size_t size);

  // A fresh range of `size` bytes, just mapped, is handed out.
  void Adopt(size_t size);

  // Every free range, forgotten: for the caller to unmap when a fresh mapping failed.
  std::vector<Range> TakeAll();

  size_t FreeBytes() const { return free_bytes_; }
  size_t InUseBytes() const { return in_use_bytes_; }
  size_t HighWaterBytes() const { return high_water_bytes_; }
  size_t KeepAtMostBytes() const;
  std::vector<Range> Free() const;

 private:
  void HandOut(size_t size);
  void Merge(uintptr_t start, size_t size);
  // Removes `excess` free bytes, smallest ranges first; returns the ranges removed.
  std::vector<Range> Release(size_t excess);

  size_t unit_;
  // Few ranges are ever kept (a handful of image sizes), so a linear search for the best
  // fit is enough; the map orders them by address for merging.
  std::map<uintptr_t, size_t> free_;
  size_t free_bytes_ = 0;
  size_t in_use_bytes_ = 0;
  size_t high_water_bytes_ = 0;
  size_t largest_bytes_ = 0;
};

}  // namespace vantorel
