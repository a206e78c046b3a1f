// The blur passes of the streaming grid core.
#include "filters/grid_stream_parts.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "filters/cpu_features.h"


namespace vantorel {

namespace {

struct Range {
  int32_t lo = 1, hi = 0;  // empty when lo > hi
  bool Empty() const { return lo > hi; }
};

__attribute__((always_inline)) inline void Include(Range& r, const GridSlice& slice, int32_t y) {
  if (slice.Empty(y)) return;
  if (r.Empty()) {
    r = {slice.Lo(y), slice.Hi(y)};
  } else {
    r.lo = std::min(r.lo, slice.Lo(y));
    r.hi = std::max(r.hi, slice.Hi(y));
  }
}

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

// out = ((before + after) + 2 centre) * 0.25 over the cells of column y in `range`, for
// value and weight alike; the rest of the column becomes zero.
__attribute__((always_inline)) inline void BlurColumn(GridSlice& out, int32_t y, Range range, const double* before_v,
                const double* after_v, const double* centre_v, const double* before_w,
                const double* after_w, const double* centre_w) {
  out.RangeColumn(y, range.lo, range.hi);
  if (range.Empty()) return;
  double* value = out.value.data() + out.Index(y, 0);
  double* weight = out.weight.data() + out.Index(y, 0);
  BlurCells(value, before_v, after_v, centre_v, range.lo, range.hi);
  BlurCells(weight, before_w, after_w, centre_w, range.lo, range.hi);
}

__attribute__((always_inline)) inline void XPassBody(GridSlice& out, const GridSlice& before, const GridSlice& centre,
                                                    const GridSlice& after, int32_t y_from, int32_t y_to) {
  for (int32_t y = y_from; y <= y_to; ++y) {
    Range range;
    Include(range, before, y);
    Include(range, centre, y);
    Include(range, after, y);
    const size_t at = out.Index(y, 0);
    BlurColumn(out, y, Interior(range, out.z_size), &before.value[at], &after.value[at],
               &centre.value[at], &before.weight[at], &after.weight[at], &centre.weight[at]);
  }
}

__attribute__((always_inline)) inline void YPassBody(GridSlice& out, const GridSlice& in, int32_t y_from, int32_t y_to) {
  for (int32_t y = y_from; y <= y_to; ++y) {
    Range range;
    Include(range, in, y - 1);
    Include(range, in, y);
    Include(range, in, y + 1);
    const size_t below = in.Index(y - 1, 0), at = in.Index(y, 0), above = in.Index(y + 1, 0);
    BlurColumn(out, y, Interior(range, out.z_size), &in.value[below], &in.value[above],
               &in.value[at], &in.weight[below], &in.weight[above], &in.weight[at]);
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
  for (int32_t y = y_from; y <= y_to; ++y) {
    if (in.Empty(y)) {
      out.RangeColumn(y, 1, 0);
      continue;
    }
    const Range first = Interior({in.Lo(y) - 1, in.Hi(y) + 1}, z_size);
    const Range second = first.Empty() ? first : Interior({first.lo - 1, first.hi + 1}, z_size);
    out.RangeColumn(y, second.lo, second.hi);
    if (second.Empty()) continue;
    const double* value = in.value.data() + in.Index(y, 0);
    const double* weight = in.weight.data() + in.Index(y, 0);
    BlurCells(first_v, value - 1, value + 1, value, first.lo, first.hi);
    BlurCells(first_w, weight - 1, weight + 1, weight, first.lo, first.hi);
    BlurCells(second_v, first_v - 1, first_v + 1, first_v, second.lo, second.hi);
    BlurCells(second_w, first_w - 1, first_w + 1, first_w, second.lo, second.hi);
    NormaliseCells(out.value.data() + out.Index(y, 0), second_v, second_w, second.lo, second.hi);
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
