// The blur passes of the streaming grid core.
#include "filters/grid_stream_parts.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "filters/cpu_features.h"
#include "filters/grid_counts.h"


namespace vantorel {

namespace {

struct Range {
  int32_t lo = 1, hi = 0;  // empty when lo > hi
  bool Empty() const { return lo > hi; }
};

__attribute__((always_inline)) inline Range Interior(Range r, int32_t z_size) { return {std::max(r.lo, 1), std::min(r.hi, z_size - 2)}; }

// Four adjacent cells, added and multiplied lane by lane: each lane rounds exactly as the
// same operation on one double would (no contraction into fused operations either).
typedef double CellQuad __attribute__((vector_size(32)));

// The blur helpers run once per column and pass on ranges of a few cells: they are
// inlined so that the call overhead does not outweigh the work.

__attribute__((always_inline)) inline CellQuad LoadQuad(const double* p) {
  CellQuad quad;
  std::memcpy(&quad, p, sizeof quad);
  return quad;
}

__attribute__((always_inline)) inline void StoreQuad(double* p, CellQuad quad) { std::memcpy(p, &quad, sizeof quad); }

// Calls block(z) for blocks of L cells [z, z + L) that together cover [lo, hi] (within the
// interior 1 .. z_size - 2), each block within the interior: the first starts at lo, or
// lower when lo is near the top; the last ends at hi, or higher when the range is shorter
// than a block, overlapping the one before rather than running past the range. Cells of
// a block outside [lo, hi] are cells where every input of the pass is zero (outside the
// inputs' ranges, and the neighbours along z read by a z pass are still within the
// column), so they compute to zero and keep the zero the output held: no short ranges
// are handled one cell at a time. Only a column whose interior is shorter than a block
// goes through cell(z) for each z in [lo, hi]. The block cover depends on L, lo, hi and
// z_size alone, so two loops with the same L write and read the same cells.
template <int32_t L, typename Block, typename Cell>
__attribute__((always_inline)) inline void CoverRange(int32_t lo, int32_t hi, int32_t z_size, const Block& block,
                                                      const Cell& cell) {
  const int32_t last_start = z_size - 1 - L;
  if (last_start < 1) {
    for (int32_t z = lo; z <= hi; ++z) cell(z);
    return;
  }
  for (int32_t z = std::min(lo, last_start);;) {
    block(z);
    if (z + L > hi) break;
    z = std::min(z + L, hi - L + 1);
  }
}

// The cells CoverRange<L> hands to its blocks (or one by one) for the range [lo, hi].
template <int32_t L>
__attribute__((always_inline)) inline Range CoverOf(Range r, int32_t z_size) {
  const int32_t last_start = z_size - 1 - L;
  if (last_start < 1) return r;
  const int32_t first = std::min(r.lo, last_start);
  return {first, std::max(r.hi, first + L - 1)};
}

// Cells of integer numerators in one block.
template <typename Count>
constexpr int32_t kCountLanes = static_cast<int32_t>(32 / sizeof(Count));

// out[z] = ((before[z] + after[z]) + 2 centre[z]) * 0.25 for z in [lo, hi], four cells at
// a time. The output never overlaps the inputs, so overlapping blocks compute the same
// values again.
__attribute__((always_inline)) inline void BlurValues(double* __restrict out, const double* before, const double* after,
                                                      const double* centre, int32_t lo, int32_t hi, int32_t z_size) {
  const CellQuad two = {2.0, 2.0, 2.0, 2.0}, quarter = {0.25, 0.25, 0.25, 0.25};
  CoverRange<4>(
      lo, hi, z_size,
      [&](int32_t z) {
        StoreQuad(out + z, ((LoadQuad(before + z) + LoadQuad(after + z)) + two * LoadQuad(centre + z)) * quarter);
      },
      [&](int32_t z) { out[z] = ((before[z] + after[z]) + 2.0 * centre[z]) * 0.25; });
}

// The same pass on the weights' numerators, without the division by four: whole numbers,
// exact in any order (grid_counts.h), 32 bytes of them at a time (eight int32_t).
template <typename Count>
__attribute__((always_inline)) inline void BlurCounts(Count* __restrict out, const Count* before, const Count* after,
                                                      const Count* centre, int32_t lo, int32_t hi, int32_t z_size) {
  typedef Count Block __attribute__((vector_size(32)));
  constexpr int32_t kLanes = kCountLanes<Count>;
  static_assert(sizeof(Block) == kLanes * sizeof(Count));
  const auto load = [](const Count* p) {
    Block block;
    std::memcpy(&block, p, sizeof block);
    return block;
  };
  CoverRange<kLanes>(
      lo, hi, z_size,
      [&](int32_t z) {
        const Block sum = (load(before + z) + load(after + z)) + 2 * load(centre + z);
        std::memcpy(out + z, &sum, sizeof sum);
      },
      [&](int32_t z) { out[z] = (before[z] + after[z]) + 2 * centre[z]; });
}

// out[z] = value[z] / (w != 0 ? w : 1) for z in [lo, hi], w the weight numerator[z] / 4096
// (exact, grid_counts.h): the same division lane by lane, four cells at a time.
// The values were written by BlurValues over the same blocks of four; the numerators by
// blocks of at least four that cover them, or, in a column too short for those, cell by
// cell, which leaves the counts of an earlier column outside [lo, hi]: there the value is
// zero, so a count of zero or more gives zero all the same.
template <typename Count>
__attribute__((always_inline)) inline void NormaliseCells(double* __restrict out, const double* value,
                                                          const Count* numerator, int32_t lo, int32_t hi,
                                                          int32_t z_size) {
  typedef Count CountQuad __attribute__((vector_size(4 * sizeof(Count))));
  const CellQuad zero = {0.0, 0.0, 0.0, 0.0}, one = {1.0, 1.0, 1.0, 1.0};
  const CellQuad scale = {kWeightOfNumerator, kWeightOfNumerator, kWeightOfNumerator, kWeightOfNumerator};
  CoverRange<4>(
      lo, hi, z_size,
      [&](int32_t z) {
        CountQuad n;
        std::memcpy(&n, numerator + z, sizeof n);
        const CellQuad w = __builtin_convertvector(n, CellQuad) * scale;
        StoreQuad(out + z, LoadQuad(value + z) / (w != zero ? w : one));
      },
      [&](int32_t z) {
        const double w = static_cast<double>(numerator[z]) * kWeightOfNumerator;
        out[z] = value[z] / (w != 0.0 ? w : 1.0);
      });
}

// Widens r by column `row` of a slice's ranges unless that column is empty. Starting from
// kNoCells, the union needs no test of r itself.
template <typename Count>
__attribute__((always_inline)) inline void Include(Range& r, const ConstSliceArrays<Count>& a, size_t row) {
  const int32_t lo = a.lo[row], hi = a.hi[row];
  if (lo > hi) return;
  r.lo = std::min(r.lo, lo);
  r.hi = std::max(r.hi, hi);
}
constexpr Range kNoCells = {std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()};

// Column `row` of out = ((before + after) + 2 centre) * 0.25 over the cells in `range`
// (the inputs' columns given from their first cell), the values as they are and the
// weights' numerators without the division; the rest of the column becomes zero.
template <typename Count>
__attribute__((always_inline)) inline void BlurColumn(const SliceArrays<Count>& out, size_t row, size_t z_size,
                                                      Range range, const double* before_v, const double* after_v,
                                                      const double* centre_v, const Count* before_w,
                                                      const Count* after_w, const Count* centre_w) {
  RangeColumnOf(out, row, z_size, range.lo, range.hi);
  if (range.Empty()) return;
  const size_t at = row * z_size;
  const int32_t cells = static_cast<int32_t>(z_size);
  BlurValues(out.value + at, before_v, after_v, centre_v, range.lo, range.hi, cells);
  BlurCounts(out.weight + at, before_w, after_w, centre_w, range.lo, range.hi, cells);
}

// All slices of a stream hold the same rows, so one row index serves them all.
template <typename Count>
__attribute__((always_inline)) inline void XPassBody(GridSliceOf<Count>& out, const GridSliceOf<Count>& before,
                                                    const GridSliceOf<Count>& centre, const GridSliceOf<Count>& after,
                                                    int32_t y_from, int32_t y_to) {
  const SliceArrays<Count> o = out.Arrays();
  const ConstSliceArrays<Count> b = before.Arrays(), c = centre.Arrays(), a = after.Arrays();
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

template <typename Count>
__attribute__((always_inline)) inline void YPassBody(GridSliceOf<Count>& out, const GridSliceOf<Count>& in,
                                                    int32_t y_from, int32_t y_to) {
  const SliceArrays<Count> o = out.Arrays();
  const ConstSliceArrays<Count> i = in.Arrays();
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
template <typename Count>
__attribute__((always_inline)) inline void ZPassesAndNormaliseBody(GridSliceOf<Count>& out,
                                                                  const GridSliceOf<Count>& in, int32_t y_from,
                                                                  int32_t y_to) {
  const int32_t z_size = in.z_size;
  // Cells 0 .. z_size - 1 of the two passes' value and weight columns. Cells 0 and
  // z_size - 1 are never written and stay zero; each column writes every other cell it
  // reads, so nothing is cleared between columns.
  std::vector<double> values(2 * static_cast<size_t>(z_size), 0.0);
  std::vector<Count> counts(2 * static_cast<size_t>(z_size), 0);
  double* first_v = values.data();
  double* second_v = first_v + z_size;
  Count* first_w = counts.data();
  Count* second_w = first_w + z_size;
  const SliceArrays<Count> o = out.Arrays();
  const ConstSliceArrays<Count> i = in.Arrays();
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
    const Count* weight = i.weight + row * cells;
    // The first pass covers every cell that the second pass's blocks read (beyond the
    // first range, zeros computed from zeros).
    const Range second_v_reads = CoverOf<4>(second, z_size), second_w_reads = CoverOf<kCountLanes<Count>>(second, z_size);
    const Range first_v_cells = Interior({second_v_reads.lo - 1, second_v_reads.hi + 1}, z_size);
    const Range first_w_cells = Interior({second_w_reads.lo - 1, second_w_reads.hi + 1}, z_size);
    BlurValues(first_v, value - 1, value + 1, value, first_v_cells.lo, first_v_cells.hi, z_size);
    BlurCounts(first_w, weight - 1, weight + 1, weight, first_w_cells.lo, first_w_cells.hi, z_size);
    BlurValues(second_v, first_v - 1, first_v + 1, first_v, second.lo, second.hi, z_size);
    BlurCounts(second_w, first_w - 1, first_w + 1, first_w, second.lo, second.hi, z_size);
    NormaliseCells(o.value + row * cells, second_v, second_w, second.lo, second.hi, z_size);
  }
}

}  // namespace

// The passes run through RunVectorised: compiled for AVX2 and for the baseline, the lanes
// computing the same bits either way.

template <typename Count>
void XPass(GridSliceOf<Count>& out, const GridSliceOf<Count>& before, const GridSliceOf<Count>& centre,
           const GridSliceOf<Count>& after, int32_t y_from, int32_t y_to) {
  RunVectorised([&] { XPassBody(out, before, centre, after, y_from, y_to); });
}

template <typename Count>
void YPass(GridSliceOf<Count>& out, const GridSliceOf<Count>& in, int32_t y_from, int32_t y_to) {
  RunVectorised([&] { YPassBody(out, in, y_from, y_to); });
}

template <typename Count>
void ZPassesAndNormalise(GridSliceOf<Count>& out, const GridSliceOf<Count>& in, int32_t y_from, int32_t y_to) {
  RunVectorised([&] { ZPassesAndNormaliseBody(out, in, y_from, y_to); });
}

#define VANTOREL_GRID_PASSES(Count)                                                                          \
  template void XPass<Count>(GridSliceOf<Count>&, const GridSliceOf<Count>&, const GridSliceOf<Count>&,     \
                             const GridSliceOf<Count>&, int32_t, int32_t);                                  \
  template void YPass<Count>(GridSliceOf<Count>&, const GridSliceOf<Count>&, int32_t, int32_t);            \
  template void ZPassesAndNormalise<Count>(GridSliceOf<Count>&, const GridSliceOf<Count>&, int32_t, int32_t);
VANTOREL_GRID_PASSES(int32_t)
VANTOREL_GRID_PASSES(int64_t)
#undef VANTOREL_GRID_PASSES

}  // namespace vantorel
