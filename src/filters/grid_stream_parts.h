// The building blocks of the streaming grid core: the blur passes over one x-slice and
// the ring of slices that holds each stage.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "filters/grid_geometry.h"
#include "filters/grid_slice.h"

namespace vantorel {

// One [1 2 1] / 4 pass along x from three adjacent slices, along y or z within a slice,
// over rows y_from .. y_to of the grid, all within the interior (1 .. y_size - 2): the
// weights' numerators without the division (grid_counts.h). A y pass reads the input's
// rows y_from - 1 .. y_to + 1. Every written column of the output is rewritten, whatever
// it held before; its other columns are left as they are.
// Defined for Count int32_t and int64_t.
template <typename Count>
void XPass(GridSliceOf<Count>& out, const GridSliceOf<Count>& before, const GridSliceOf<Count>& centre,
           const GridSliceOf<Count>& after, int32_t y_from, int32_t y_to);
template <typename Count>
void YPass(GridSliceOf<Count>& out, const GridSliceOf<Count>& in, int32_t y_from, int32_t y_to);

// Two z passes, then value / weight (the numerator over 4096, a zero weight counting as
// 1); only the value is kept. Rows y_from .. y_to, as above.
template <typename Count>
void ZPassesAndNormalise(GridSliceOf<Count>& out, const GridSliceOf<Count>& in, int32_t y_from, int32_t y_to);

// A few slices of one stage, keyed by their x index; requests come in increasing x, and
// N consecutive slices never share a slot.
template <typename Count, size_t N>
class SliceRing {
 public:
  void Reset(int32_t ys, int32_t zs, int32_t first, int32_t count) {
    for (size_t i = 0; i < N; ++i) {
      slots_[i].Reset(ys, zs, first, count);
      keys_[i] = -1;
    }
  }
  bool Holds(int32_t x) const { return keys_[Slot(x)] == x; }
  // A slot for slice x, all zero.
  GridSliceOf<Count>& Claim(int32_t x) {
    GridSliceOf<Count>& slice = Take(x);
    slice.ClearAll();
    return slice;
  }
  // A slot for slice x still holding an older slice, for a caller that sets every
  // column's range anew (GridSlice::RangeColumn) and writes it.
  GridSliceOf<Count>& Take(int32_t x) {
    keys_[Slot(x)] = x;
    return slots_[Slot(x)];
  }
  const GridSliceOf<Count>& Get(int32_t x) const { return slots_[Slot(x)]; }

 private:
  static size_t Slot(int32_t x) { return static_cast<size_t>(x) % N; }
  std::array<GridSliceOf<Count>, N> slots_;
  std::array<int32_t, N> keys_{};
};

}  // namespace vantorel
