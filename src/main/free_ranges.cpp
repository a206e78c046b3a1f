// Best-fit reuse of released ranges, bounded by the most ever handed out at once.
#include "main/free_ranges.h"

#include <algorithm>
#include <iterator>

namespace vantorel {

std::optional<uintptr_t> FreeRanges::Take(size_t size) {
  auto best = free_.end();
  for (auto it = free_.begin(); it != free_.end(); ++it) {
    if (it->second >= size && (best == free_.end() || it->second < best->second)) best = it;
  }
  if (best == free_.end()) return std::nullopt;
  const uintptr_t start = best->first;
  const size_t rest = best->second - size;
  free_.erase(best);
  if (rest > 0) free_.emplace(start + size, rest);
  free_bytes_ -= size;
  HandOut(size);
  return start;
}

std::vector<FreeRanges::Range> FreeRanges::Give(uintptr_t start, size_t size) {
  in_use_bytes_ -= size;
  free_bytes_ += size;
  Merge(start, size);
  const size_t keep = KeepAtMostBytes();
  return Release(free_bytes_ > keep ? free_bytes_ - keep : 0);
}

std::vector<FreeRanges::Range> FreeRanges::MakeRoomFor(size_t size) {
  const size_t held_after = in_use_bytes_ + size + free_bytes_;
  const size_t allowed = std::max(high_water_bytes_, in_use_bytes_ + size);
  return Release(held_after > allowed ? held_after - allowed : 0);
}

void FreeRanges::Adopt(size_t size) { HandOut(size); }

std::vector<FreeRanges::Range> FreeRanges::TakeAll() {
  std::vector<Range> all = Free();
  free_.clear();
  free_bytes_ = 0;
  return all;
}

size_t FreeRanges::KeepAtMostBytes() const { return largest_bytes_ + largest_bytes_ / 3 / unit_ * unit_; }

std::vector<FreeRanges::Range> FreeRanges::Free() const {
  std::vector<Range> all;
  for (const auto& [start, size] : free_) all.push_back({start, size});
  return all;
}

void FreeRanges::HandOut(size_t size) {
  in_use_bytes_ += size;
  high_water_bytes_ = std::max(high_water_bytes_, in_use_bytes_);
  largest_bytes_ = std::max(largest_bytes_, size);
}

void FreeRanges::Merge(uintptr_t start, size_t size) {
  auto next = free_.lower_bound(start);
  if (next != free_.end() && next->first == start + size) {
    size += next->second;
    next = free_.erase(next);
  }
  if (next != free_.begin()) {
    auto previous = std::prev(next);
    if (previous->first + previous->second == start) {
      previous->second += size;
      return;
    }
  }
  free_.emplace_hint(next, start, size);
}

std::vector<FreeRanges::Range> FreeRanges::Release(size_t excess) {
  std::vector<Range> by_size = Free();
  std::stable_sort(by_size.begin(), by_size.end(), [](const Range& a, const Range& b) { return a.size < b.size; });
  std::vector<Range> released;
  for (const Range& range : by_size) {
    if (excess == 0) break;
    const size_t cut = std::min(excess, range.size);
    if (cut == range.size) {
      free_.erase(range.start);
    } else {
      free_[range.start] = range.size - cut;
    }
    released.push_back({range.start + range.size - cut, cut});
    free_bytes_ -= cut;
    excess -= cut;
  }
  return released;
}

}  // namespace vantorel
