// The read-back of a whole run of pixel columns, every row of it, for sources whose edges
// are levels (bytes, 16 bits), with AVX2. Each pixel is the same expression as in
// SampleOnePixel and rounds the same; what changes is the bookkeeping around it:
//  - The z places of the levels come from two flat tables (lower corner, fraction), so
//    four pixels' places are a few loads rather than a gather of whole AxisPlace records.
//  - The upper z corner of every level that occurs is known to be the cell after the lower
//    one (checked once per filter, LevelCorners::upper_is_next), so no pixel is checked.
//  - The loop over the run's rows is inside the kernel: the constants and the call are paid
//    once per run, not once per row.
#pragma once

#include <cstdint>
#include <vector>

#include "filters/cpu_features.h"
#include "filters/grid_row_kernels.h"

namespace vantorel {

// Where each edge level goes along z, as the vector read-back loads it.
struct LevelCorners {
  std::vector<int32_t> lower;    // the lower z corner
  std::vector<float> fraction;   // the single-precision fraction above it
  bool upper_is_next = false;    // every level in the edge range has its upper corner at lower + 1
};

// From the places of the levels (PlacesOfEdgeLevels); `in_range(level)` tells the levels
// that may occur. Levels outside the range keep corner 0, which no pixel asks for.
template <typename InRange>
LevelCorners CornersOfLevels(const std::vector<AxisPlace>& by_level, const InRange& in_range) {
  LevelCorners corners;
  corners.lower.assign(by_level.size(), 0);
  corners.fraction.assign(by_level.size(), 0.0f);
  corners.upper_is_next = !by_level.empty();
  for (size_t level = 0; level < by_level.size(); ++level) {
    if (!in_range(static_cast<int>(level))) continue;
    const AxisPlace& place = by_level[level];
    corners.lower[level] = static_cast<int32_t>(place.lower);
    corners.fraction[level] = place.fraction;
    if (place.upper != place.lower + 1) corners.upper_is_next = false;
  }
  return corners;
}

// The levels of one row, `stride` samples apart, looked up in the corner tables.
template <typename T>
struct LevelCornersOfRow {
  const T* first;
  size_t stride;
  const int32_t* lower;
  const float* fraction;

  VANTOREL_INLINE void Four(int32_t i, int32_t (&z0)[4], __m128& dz) const {
    const T* p = first + static_cast<size_t>(i) * stride;
    const size_t a = p[0], b = p[stride], c = p[2 * stride], d = p[3 * stride];
    z0[0] = lower[a];
    z0[1] = lower[b];
    z0[2] = lower[c];
    z0[3] = lower[d];
    dz = _mm_setr_ps(fraction[a], fraction[b], fraction[c], fraction[d]);
  }
};

// Samples rows [y_begin, y_end) of a run of at least four pixel columns. `rows.At(y, row,
// edges, out)` sets the row's sample rows and fraction in `row` and gives its edges
// (LevelCornersOfRow) and its output view; the run's slices, fractions and count are
// already in `row`. A row's last four pixels may be sampled again (to the same values),
// as in SampleRunRowVector.
template <typename Rows>
__attribute__((target("avx2"))) void SampleRunOfLevelsVector(RunRow row, const Rows& rows_of_run, int32_t y_begin,
                                                              int32_t y_end) {
  // A local copy: the byte stores could otherwise alias every member, reloaded per row.
  const Rows rows = rows_of_run;
  const int32_t last = row.count - 4;
  for (int32_t y = y_begin; y < y_end; ++y) {
    const auto [edges, out] = rows.At(y, row);
    for (int32_t i = 0;; i += 4) {
      if (i > last) i = last;
      int32_t z0[4];
      __m128 dz;
      edges.Four(i, z0, dz);
      out.Four(i, SampleFourPixels(row, i, z0, dz));
      if (i == last) break;
    }
  }
}

// GCC 12 warns of the undefined upper lanes the AVX-512 intrinsics start from.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// The z0 and z1 corners of four pixels of each of two image rows, as two vectors (lanes 0-3
// the first row's pixels, 4-7 the second's): `first` and `second` are the grid rows of one
// slice that they sample. Pixels 0, 2, 4, 6 and 1, 3, 5, 7 are loaded as pairs, then
// unpacked lane by lane.
__attribute__((target(VANTOREL_AVX512), always_inline)) inline void LoadCornerPairsOfTwoRows(
    const double* first, const double* second, const int32_t (&z0)[8], __m512d& at_z0, __m512d& at_z1) {
  __m512d even = _mm512_castpd128_pd512(_mm_loadu_pd(first + z0[0]));
  even = _mm512_insertf64x2(even, _mm_loadu_pd(first + z0[2]), 1);
  even = _mm512_insertf64x2(even, _mm_loadu_pd(second + z0[4]), 2);
  even = _mm512_insertf64x2(even, _mm_loadu_pd(second + z0[6]), 3);
  __m512d odd = _mm512_castpd128_pd512(_mm_loadu_pd(first + z0[1]));
  odd = _mm512_insertf64x2(odd, _mm_loadu_pd(first + z0[3]), 1);
  odd = _mm512_insertf64x2(odd, _mm_loadu_pd(second + z0[5]), 2);
  odd = _mm512_insertf64x2(odd, _mm_loadu_pd(second + z0[7]), 3);
  at_z0 = _mm512_unpacklo_pd(even, odd);
  at_z1 = _mm512_unpackhi_pd(even, odd);
}

// SampleRunOfLevelsVector two image rows at a time, with AVX-512: lanes 0-3 are four pixels
// of one row, lanes 4-7 the same columns of the next, each lane the same float and double
// operations in the same order as SampleFourPixels, so each pixel rounds the same. (Runs
// are mostly a cell of four pixels wide, so eight lanes are found down the rows rather
// than along them.) An odd last row goes through SampleFourPixels.
template <typename Rows>
__attribute__((target(VANTOREL_AVX512))) void SampleRunOfLevelsWide(RunRow row, const Rows& rows_of_run,
                                                                   int32_t y_begin, int32_t y_end) {
  const Rows rows = rows_of_run;
  const int32_t last = row.count - 4;
  const __m256 one = _mm256_set1_ps(1.0f);
  int32_t y = y_begin;
  for (; y + 1 < y_end; y += 2) {
    RunRow next = row;
    const auto [edges, out] = rows.At(y, row);
    const auto [next_edges, next_out] = rows.At(y + 1, next);
    const __m256 dy = _mm256_set_m128(_mm_set1_ps(next.dy), _mm_set1_ps(row.dy));
    const __m256 not_dy = _mm256_sub_ps(one, dy);
    for (int32_t i = 0;; i += 4) {
      if (i > last) i = last;
      alignas(32) int32_t z0[8];
      int32_t(&z0_first)[4] = *reinterpret_cast<int32_t(*)[4]>(z0);
      int32_t(&z0_second)[4] = *reinterpret_cast<int32_t(*)[4]>(z0 + 4);
      __m128 dz_first, dz_second;
      edges.Four(i, z0_first, dz_first);
      next_edges.Four(i, z0_second, dz_second);
      const __m256 dz = _mm256_set_m128(dz_second, dz_first);
      // The weights as SampleFourPixels forms them.
      const __m256 dx = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(row.dx + i));
      const __m256 not_dx = _mm256_sub_ps(one, dx), not_dz = _mm256_sub_ps(one, dz);
      const __m256 xy00 = _mm256_mul_ps(not_dy, not_dx), xy10 = _mm256_mul_ps(not_dy, dx);
      const __m256 xy01 = _mm256_mul_ps(not_dx, dy), xy11 = _mm256_mul_ps(dy, dx);
      const __m512d w0 = _mm512_cvtps_pd(_mm256_mul_ps(not_dz, xy00)), w1 = _mm512_cvtps_pd(_mm256_mul_ps(not_dz, xy10));
      const __m512d w2 = _mm512_cvtps_pd(_mm256_mul_ps(not_dz, xy01)), w3 = _mm512_cvtps_pd(_mm256_mul_ps(not_dz, xy11));
      const __m512d w4 = _mm512_cvtps_pd(_mm256_mul_ps(xy00, dz)), w5 = _mm512_cvtps_pd(_mm256_mul_ps(xy10, dz));
      const __m512d w6 = _mm512_cvtps_pd(_mm256_mul_ps(xy01, dz)), w7 = _mm512_cvtps_pd(_mm256_mul_ps(xy11, dz));
      __m512d lower0_z0, lower0_z1, upper0_z0, upper0_z1, lower1_z0, lower1_z1, upper1_z0, upper1_z1;
      LoadCornerPairsOfTwoRows(row.lower + row.row0, next.lower + next.row0, z0, lower0_z0, lower0_z1);
      LoadCornerPairsOfTwoRows(row.upper + row.row0, next.upper + next.row0, z0, upper0_z0, upper0_z1);
      LoadCornerPairsOfTwoRows(row.lower + row.row1, next.lower + next.row1, z0, lower1_z0, lower1_z1);
      LoadCornerPairsOfTwoRows(row.upper + row.row1, next.upper + next.row1, z0, upper1_z0, upper1_z1);
      __m512d sum = _mm512_add_pd(_mm512_mul_pd(w0, lower0_z0), _mm512_mul_pd(w1, upper0_z0));
      sum = _mm512_add_pd(sum, _mm512_mul_pd(w2, lower1_z0));
      sum = _mm512_add_pd(sum, _mm512_mul_pd(w3, upper1_z0));
      sum = _mm512_add_pd(sum, _mm512_mul_pd(w4, lower0_z1));
      sum = _mm512_add_pd(sum, _mm512_mul_pd(w5, upper0_z1));
      sum = _mm512_add_pd(sum, _mm512_mul_pd(w6, lower1_z1));
      sum = _mm512_add_pd(sum, _mm512_mul_pd(w7, upper1_z1));
      out.Four(i, _mm512_castpd512_pd256(sum));
      next_out.Four(i, _mm512_extractf64x4_pd(sum, 1));
      if (i == last) break;
    }
  }
  if (y < y_end) SampleRunOfLevelsVector(row, rows, y, y_end);
}
#pragma GCC diagnostic pop

}  // namespace vantorel
