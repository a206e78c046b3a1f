// The blur passes of the streaming grid core.
#include "filters/grid_stream_parts.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "filters/cpu_features.h"


namespace vantorel {

namespace {

struct Range {
  int32_t lo = 1, hi = 0;  // empty when lo > hi
  bool Empty() const { return lo > hi; }
};

__attribute__((always_inline)) inline Range Interior(Range r, int32_t z_size) { return {std::max(r.lo, 1), std::min(r.hi, z_size - 2)}; }

// Four adjacent cells, added and multiplied lane by lane: each lane rounds exactly as the
// same operation on one double would (no contraction into fused operations either).
// Only ever handled inside inlined code, so the ABI note on passing it by value is moot.
#pragma GCC diagnostic ignored "-Wpsabi"
typedef double CellQuad __attribute__((vector_size(32)));

// The blur helpers run once per column and pass on ranges of a few cells: they are
// inlined so that the call overhead does not outweigh the work.

__attribute__((always_inline)) inline CellQuad LoadQuad(const double* p) {
  CellQuad quad;
  std::memcpy(&quad, p, sizeof quad);
  return quad;
}

__attribute__((always_inline)) inline void StoreQuad(double* p, CellQuad quad) { std::memcpy(p, &quad, sizeof quad); }

// out[z] = ((before[z] + after[z]) + 2 centre[z]) * 0.25 for z in [lo, hi].
__attribute__((always_inline)) inline void BlurCells(double* __restrict out, const double* before, const double* after, const double* centre,
               int32_t lo, int32_t hi) {
  const CellQuad two = {2.0, 2.0, 2.0, 2.0}, quarter = {0.25, 0.25, 0.25, 0.25};
  if (hi - lo < 3) {
    for (int32_t z = lo; z <= hi; ++z) out[z] = ((before[z] + after[z]) + 2.0 * centre[z]) * 0.25;
    return;
  }
  // The output never overlaps the inputs, so the last four cells may be computed again
  // (to the same values) instead of one by one.
  for (int32_t z = lo;; z += 4) {
    if (z > hi - 3) z = hi - 3;
    StoreQuad(out + z, ((LoadQuad(before + z) + LoadQuad(after + z)) + two * LoadQuad(centre + z)) * quarter);
    if (z == hi - 3) break;
  }
}

// out[z] = value[z] / (weight[z] != 0 ? weight[z] : 1) for z in [lo, hi]: the same
// division lane by lane, where a zero weight counts as 1. As above, the last four cells
// may be computed again instead of one by one.
__attribute__((always_inline)) inline void NormaliseCells(double* __restrict out, const double* value, const double* weight,
                                                          int32_t lo, int32_t hi) {
  if (hi - lo < 3) {
    for (int32_t z = lo; z <= hi; ++z) out[z] = value[z] / (weight[z] != 0.0 ? weight[z] : 1.0);
    return;
  }
  const CellQuad zero = {0.0, 0.0, 0.0, 0.0}, one = {1.0, 1.0, 1.0, 1.0};
  for (int32_t z = lo;; z += 4) {
    if (z > hi - 3) z = hi - 3;
    const CellQuad w = LoadQuad(weight + z);
    StoreQuad(out + z, LoadQuad(value + z) / (w != zero ? w : one));
    if (z == hi - 3) break;
  }
}

// Widens r by column `row` of a slice's ranges unless that column is empty. Starting from
// kNoCells, the union needs no test of r itself.
__attribute__((always_inline)) inline void Include(Range& r, const ConstSliceArrays& a, size_t row) {
  const int32_t lo = a.lo[row], hi = a.hi[row];
  if (lo > hi) return;
  r.lo = std::min(r.lo, lo);
  r.hi = std::max(r.hi, hi);
}
constexpr Range kNoCells = {std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()};

// Column `row` of out = ((before + after) + 2 centre) * 0.25 over the cells in `range`
// (the inputs' columns given from their first cell), for value and weight alike; the rest
// of the column becomes zero.
__attribute__((always_inline)) inline void BlurColumn(const SliceArrays& out, size_t row, size_t z_size, Range range,
                                                      const double* before_v, const double* after_v,
                                                      const double* centre_v, const double* before_w,
                                                      const double* after_w, const double* centre_w) {
  RangeColumnOf(out, row, z_size, range.lo, range.hi);
  if (range.Empty()) return;
  const size_t at = row * z_size;
  BlurCells(out.value + at, before_v, after_v, centre_v, range.lo, range.hi);
  BlurCells(out.weight + at, before_w, after_w, centre_w, range.lo, range.hi);
}

// All slices of a stream hold the same rows, so one row index serves them all.
__attribute__((always_inline)) inline void XPassBody(GridSlice& out, const GridSlice& before, const GridSlice& centre,
                                                    const GridSlice& after, int32_t y_from, int32_t y_to) {
  const SliceArrays o = out.Arrays();
  const ConstSliceArrays b = before.Arrays(), c = centre.Arrays(), a = after.Arrays();
  const size_t z_size = static_cast<size_t>(out.z_size);
  for (size_t row = static_cast<size_t>(y_from - out.y_first); row <= static_cast<size_t>(y_to - out.y_first); ++row) {
    Range range = kNoCells;
    Include(range, b, row);
    Include(range, c, row);
    Include(range, a, row);
    const size_t at = row * z_size;
    BlurColumn(o, row, z_size, Interior(range, out.z_size), b.value + at, a.value + at, c.value + at, b.weight + at,
               a.weight + at, c.weight + at);
  }
}

__attribute__((always_inline)) inline void YPassBody(GridSlice& out, const GridSlice& in, int32_t y_from, int32_t y_to) {
  const SliceArrays o = out.Arrays();
  const ConstSliceArrays i = in.Arrays();
  const size_t z_size = static_cast<size_t>(out.z_size);
  for (size_t row = static_cast<size_t>(y_from - out.y_first); row <= static_cast<size_t>(y_to - out.y_first); ++row) {
    Range range = kNoCells;
    Include(range, i, row - 1);
    Include(range, i, row);
    Include(range, i, row + 1);
    const size_t below = (row - 1) * z_size, at = row * z_size, above = (row + 1) * z_size;
    BlurColumn(o, row, z_size, Interior(range, out.z_size), i.value + below, i.value + above, i.value + at,
               i.weight + below, i.weight + above, i.weight + at);
  }
}

// The two z passes and the normalisation of one column at a time: all three stay within
// the column, so the intermediate columns live in small buffers instead of whole slices.
// Each cell is the same expression of the same cells as in separate passes.
__attribute__((always_inline)) inline void ZPassesAndNormaliseBody(GridSlice& out, const GridSlice& in, int32_t y_from, int32_t y_to) {
  const int32_t z_size = in.z_size;
  // Cells 0 .. z_size - 1 of the two passes' value and weight columns; cells outside the
  // written range must read as zero.
  std::vector<double> buffers(4 * static_cast<size_t>(z_size), 0.0);
  double* first_v = buffers.data();
  double* first_w = first_v + z_size;
  double* second_v = first_w + z_size;
  double* second_w = second_v + z_size;
  const SliceArrays o = out.Arrays();
  const ConstSliceArrays i = in.Arrays();
  const size_t cells = static_cast<size_t>(z_size);
  for (size_t row = static_cast<size_t>(y_from - out.y_first); row <= static_cast<size_t>(y_to - out.y_first); ++row) {
    if (i.lo[row] > i.hi[row]) {
      RangeColumnOf(o, row, cells, 1, 0);
      continue;
    }
    const Range first = Interior({i.lo[row] - 1, i.hi[row] + 1}, z_size);
    const Range second = first.Empty() ? first : Interior({first.lo - 1, first.hi + 1}, z_size);
    RangeColumnOf(o, row, cells, second.lo, second.hi);
    if (second.Empty()) continue;
    const double* value = i.value + row * cells;
    const double* weight = i.weight + row * cells;
    BlurCells(first_v, value - 1, value + 1, value, first.lo, first.hi);
    BlurCells(first_w, weight - 1, weight + 1, weight, first.lo, first.hi);
    BlurCells(second_v, first_v - 1, first_v + 1, first_v, second.lo, second.hi);
    BlurCells(second_w, first_w - 1, first_w + 1, first_w, second.lo, second.hi);
    NormaliseCells(o.value + row * cells, second_v, second_w, second.lo, second.hi);
    // Back to zero for the next column.
    for (int32_t z = first.lo; z <= first.hi; ++z) first_v[z] = first_w[z] = 0.0;
  }
}

}  // namespace

// The passes run through RunVectorised: compiled for AVX2 and for the baseline, the lanes
// computing the same bits either way.

void XPass(GridSlice& out, const GridSlice& before, const GridSlice& centre, const GridSlice& after,
           int32_t y_from, int32_t y_to) {
  RunVectorised([&] { XPassBody(out, before, centre, after, y_from, y_to); });
}

void YPass(GridSlice& out, const GridSlice& in, int32_t y_from, int32_t y_to) {
  RunVectorised([&] { YPassBody(out, in, y_from, y_to); });
}

void ZPassesAndNormalise(GridSlice& out, const GridSlice& in, int32_t y_from, int32_t y_to) {
  RunVectorised([&] { ZPassesAndNormaliseBody(out, in, y_from, y_to); });
}

}  // namespace vantorel
