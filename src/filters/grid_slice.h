// One x-slice of the bilateral grid, as the streaming core keeps it: value and weight in
// separate arrays (y major, z minor) and, per y column, the z range that may be non-zero.
// A slice may hold only a window of the grid's rows (a band and its halo); rows outside
// the window are never asked for.
//
// The weights are kept as whole numbers: a weight is a count of pixels, and each blur pass
// ((a + b) + 2c) / 4 only divides by four. So the weight of a cell after k passes is
// exactly N / 4^k, N the integer that the same passes give without the divisions, and the
// core keeps N (see grid_counts.h for its width and the division at the end).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantorel {

// A slice's arrays as plain pointers, column r (grid row y_first + r) at r * z_size, for
// the blur passes' loops: through the vectors the compiler would reload every pointer for
// every column.
template <typename Value, typename Count, typename Bound>
struct SliceArraysOf {
  Value* value;
  Count* weight;
  Bound* lo;
  Bound* hi;
};
template <typename Count>
using SliceArrays = SliceArraysOf<double, Count, int32_t>;
template <typename Count>
using ConstSliceArrays = SliceArraysOf<const double, const Count, const int32_t>;

// Makes [new_lo, new_hi] (empty when new_lo > new_hi) the non-zero range of column r, for
// a caller that then writes every cell of it: the cells of the old range outside the new
// one are zeroed. An empty range is kept as [1, 0].
// The zeroing goes four cells at a time and may zero further cells of the column: those
// outside the old range are zero already, and those inside the new one are written next.
template <typename Count>
__attribute__((always_inline)) inline void RangeColumnOf(const SliceArrays<Count>& a, size_t r, size_t z_size,
                                                         int32_t new_lo, int32_t new_hi) {
  typedef double Quad __attribute__((vector_size(32)));
  typedef Count CountQuad __attribute__((vector_size(4 * sizeof(Count))));
  const int32_t old_lo = a.lo[r], old_hi = a.hi[r];
  double* v = a.value + r * z_size;
  Count* w = a.weight + r * z_size;
  const int32_t last_quad = static_cast<int32_t>(z_size) - 4;  // a column has at least five cells
  const auto zero = [&](int32_t from, int32_t to) {
    if (from > to) return;
    const Quad zeros = {0.0, 0.0, 0.0, 0.0};
    const CountQuad no_counts = {0, 0, 0, 0};
    for (int32_t z = from;; z += 4) {
      const int32_t at = std::min(z, last_quad);
      __builtin_memcpy(v + at, &zeros, sizeof zeros);
      __builtin_memcpy(w + at, &no_counts, sizeof no_counts);
      if (z + 3 >= to) break;
    }
  };
  if (new_lo > new_hi) {
    zero(old_lo, old_hi);
    a.lo[r] = 1;
    a.hi[r] = 0;
    return;
  }
  if (old_lo <= old_hi) {
    zero(old_lo, std::min(old_hi, new_lo - 1));
    zero(std::max(old_lo, new_hi + 1), old_hi);
  }
  a.lo[r] = new_lo;
  a.hi[r] = new_hi;
}

// Count: the integer type of the weights' numerators (int32_t or int64_t).
template <typename Count>
struct GridSliceOf {
  int32_t y_size = 0;   // rows of the whole grid
  int32_t z_size = 0;
  int32_t y_first = 0;  // the rows held: y_first .. y_first + rows - 1
  int32_t rows = 0;
  std::vector<double> value;
  std::vector<Count> weight;

  // Holds rows [first, first + count) of a grid of ys x zs columns, all zero.
  void Reset(int32_t ys, int32_t zs, int32_t first, int32_t count) {
    y_size = ys;
    z_size = zs;
    y_first = first;
    rows = count;
    value.assign(static_cast<size_t>(count) * zs, 0.0);
    weight.assign(static_cast<size_t>(count) * zs, 0);
    lo_.assign(count, 1);
    hi_.assign(count, 0);
  }

  size_t Index(int32_t y, int32_t z) const { return static_cast<size_t>(y - y_first) * z_size + z; }

  // Cells of column y outside [Lo(y), Hi(y)] are exactly zero; Lo > Hi means all zero.
  int32_t Lo(int32_t y) const { return lo_[y - y_first]; }
  int32_t Hi(int32_t y) const { return hi_[y - y_first]; }
  bool Empty(int32_t y) const { return Lo(y) > Hi(y); }

  // Sets the range of column y to cells a fill has just added to, which already hold
  // their values.
  void SetRange(int32_t y, int32_t new_lo, int32_t new_hi) {
    lo_[y - y_first] = new_lo;
    hi_[y - y_first] = new_hi;
  }

  // Zeroes whatever column y held, so that a new range can be written into it.
  void ClearColumn(int32_t y) { RangeColumn(y, 1, 0); }

  // Makes [new_lo, new_hi] the non-zero range of column y, as RangeColumnOf.
  __attribute__((always_inline)) void RangeColumn(int32_t y, int32_t new_lo, int32_t new_hi) {
    RangeColumnOf(Arrays(), static_cast<size_t>(y - y_first), static_cast<size_t>(z_size), new_lo, new_hi);
  }

  void ClearAll() {
    for (int32_t y = y_first; y < y_first + rows; ++y) ClearColumn(y);
  }

  SliceArrays<Count> Arrays() { return {value.data(), weight.data(), lo_.data(), hi_.data()}; }
  ConstSliceArrays<Count> Arrays() const { return {value.data(), weight.data(), lo_.data(), hi_.data()}; }

 private:
  std::vector<int32_t> lo_;
  std::vector<int32_t> hi_;
};

// The rows of the grid each stage of a band computes. A band's read-back samples the
// normalised rows [first, last]; each blur pass along y needs one more row on either side
// of the rows it writes, so the x passes and the fill reach two rows further (the halo).
// Passes only ever write the interior rows 1 .. y_size - 2; the fill only 2 .. y_size - 2.
struct BandRows {
  int32_t first = 0, last = 0;  // the rows the read-back samples
  int32_t y_size = 0;
  // Rows held by every slice of the band.
  int32_t HeldFirst() const { return std::max(first - 2, 0); }
  int32_t HeldLast() const { return std::min(last + 2, y_size - 1); }
  // Rows written by the passes reaching `reach` rows beyond the sampled ones.
  int32_t PassFirst(int32_t reach) const { return std::max(first - reach, 1); }
  int32_t PassLast(int32_t reach) const { return std::min(last + reach, y_size - 2); }
};

}  // namespace vantorel
