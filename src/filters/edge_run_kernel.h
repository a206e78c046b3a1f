// The read-back of a whole run of pixel columns, every row of it, for sources whose edges
// are floats placed along z by division (the coarse filters of float pictures), with AVX2.
// Each pixel is the same expression as in SampleOnePixel and rounds the same; what changes
// is the bookkeeping around it:
//  - The loops over the rows and the runs are inside the kernel, rows outer: each image row
//    is read and written from one end to the other, where the hardware prefetchers follow,
//    and the grid rows it samples stay in the first-level cache across its runs. The
//    grid's constants and the strides are locals, not reloaded for every four pixels (a
//    float store might otherwise alias them).
//  - No pixel's upper z corner is checked or clamped: the caller has found once per filter
//    that the largest edge's lower corner lies below the last cell (EdgesBelowLastCell).
//    Placing is monotonic in the edge (a subtraction, a division by a positive number and
//    an addition, each rounded to nearest), so every smaller edge's corner does too, and
//    min(lower, last) is lower and min(lower + 1, last) is lower + 1.
//  - Results are stored four at a time, the output's samples being adjacent.
#pragma once

#include <cstdint>

#include "filters/cpu_features.h"
#include "filters/grid_row_kernels.h"

namespace vantorel {

// Whether every edge up to `emax` has its upper z corner at the cell after its lower one.
inline bool EdgesBelowLastCell(double emax, const GridGeometry& g) {
  const AxisPlace place = PlaceOnZ(emax, g);
  return place.upper == place.lower + 1;
}

// A run of pixel columns [begin, begin + count) that share their two sample slices.
struct ColumnRun {
  const double* lower;  // the normalised slice at the run's lower x corner
  const double* upper;  // ... at its upper x corner
  int32_t begin, count;
};

// Points `row` at a run's two sample slices, its columns' x fractions and its width.
__attribute__((always_inline)) inline void SetRun(RunRow& row, const ColumnRun& run, const float* dx) {
  row.lower = run.lower;
  row.upper = run.upper;
  row.dx = dx + run.begin;
  row.count = run.count;
}

// One run of `count` pixels of an image row, four at a time (the last four again when the
// width is not a multiple of four), or one by one below four: the narrow runs of both
// kernels below. As EdgesOfRow::Four, less the clamps that cannot bite.
__attribute__((target("avx2"), always_inline)) inline void SampleRunFourAtATime(const RunRow& row, const float* edges,
                                                                              size_t step, const GridGeometry& geometry,
                                                                              float* out, int32_t count) {
  if (count < 4) {
    const EdgesOfRow<float> plain{edges, step, &geometry};
    for (int32_t i = 0; i < count; ++i) out[i] = static_cast<float>(SampleOnePixel(row, plain, i));
    return;
  }
  const __m256d emin = _mm256_set1_pd(geometry.emin), sigma_r = _mm256_set1_pd(geometry.sigma_r),
                two = _mm256_set1_pd(2.0);
  const int32_t last = count - 4;
  for (int32_t i = 0;; i += 4) {
    if (i > last) i = last;
    const float* p = edges + static_cast<size_t>(i) * step;
    const __m128 four = step == 1 ? _mm_loadu_ps(p) : _mm_setr_ps(p[0], p[step], p[2 * step], p[3 * step]);
    const __m256d fz = _mm256_add_pd(_mm256_div_pd(_mm256_sub_pd(_mm256_cvtps_pd(four), emin), sigma_r), two);
    const __m128i lower = _mm256_cvttpd_epi32(fz);
    const __m128 dz = _mm256_cvtpd_ps(_mm256_sub_pd(fz, _mm256_cvtepi32_pd(lower)));
    alignas(16) int32_t z0[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(z0), lower);
    _mm_storeu_ps(out + i, _mm256_cvtpd_ps(SampleFourPixels(row, i, z0, dz)));
    if (i == last) break;
  }
}

// Samples rows [y_begin, y_end) of every run, a whole image row after another, so that the
// edges are read and the results written along the rows. The edges are floats `kStride`
// samples apart (kStride 0: `stride` apart); `dx` holds every column's x fraction.
// `rows.At(y, row)` sets row y's sample rows and fraction in `row` and gives the pair
// (edge, result) of its column 0, the results being adjacent. A run of four columns or
// more has its last four pixels sampled again (to the same values) when its width is not
// a multiple of four: the results never overlap the edges. Narrower runs (the last cells
// of a row, or cells narrower than four pixels) are sampled one pixel at a time.
template <int kStride, typename Rows>
__attribute__((target("avx2"))) void SampleRowsOfEdgesVector(const ColumnRun* runs, size_t run_count, const float* dx,
                                                             const Rows& rows_of_image, size_t stride,
                                                             const GridGeometry& g, int32_t y_begin, int32_t y_end) {
  const Rows rows = rows_of_image;
  const GridGeometry geometry = g;
  const size_t step = kStride > 0 ? static_cast<size_t>(kStride) : stride;
  RunRow row{};
  for (int32_t y = y_begin; y < y_end; ++y) {
    const auto [row_edges, row_out] = rows.At(y, row);
    for (size_t r = 0; r < run_count; ++r) {
      const ColumnRun run = runs[r];
      SetRun(row, run, dx);
      SampleRunFourAtATime(row, row_edges + static_cast<size_t>(run.begin) * step, step, geometry,
                           row_out + run.begin, run.count);
    }
  }
}

// GCC 12 warns of the undefined upper lanes the AVX-512 intrinsics start from.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// The z0 and z1 corners of eight pixels along one grid row of one slice, as two vectors:
// pixels 0, 2, 4, 6 and 1, 3, 5, 7 loaded as pairs, then unpacked lane by lane.
__attribute__((target(VANTOREL_AVX512), always_inline)) inline void LoadEightCornerPairs(const double* row,
                                                                                        const int32_t (&z0)[8],
                                                                                        __m512d& at_z0,
                                                                                        __m512d& at_z1) {
  __m512d even = _mm512_castpd128_pd512(_mm_loadu_pd(row + z0[0]));
  even = _mm512_insertf64x2(even, _mm_loadu_pd(row + z0[2]), 1);
  even = _mm512_insertf64x2(even, _mm_loadu_pd(row + z0[4]), 2);
  even = _mm512_insertf64x2(even, _mm_loadu_pd(row + z0[6]), 3);
  __m512d odd = _mm512_castpd128_pd512(_mm_loadu_pd(row + z0[1]));
  odd = _mm512_insertf64x2(odd, _mm_loadu_pd(row + z0[3]), 1);
  odd = _mm512_insertf64x2(odd, _mm_loadu_pd(row + z0[5]), 2);
  odd = _mm512_insertf64x2(odd, _mm_loadu_pd(row + z0[7]), 3);
  at_z0 = _mm512_unpacklo_pd(even, odd);
  at_z1 = _mm512_unpackhi_pd(even, odd);
}

// Eight floats `step` apart. Three apart (a channel of a colour picture), the 22 floats
// from p on are loaded masked, so that nothing past the eighth sample is touched.
template <int kStride>
__attribute__((target(VANTOREL_AVX512), always_inline)) inline __m256 LoadEightEdges(const float* p, size_t step) {
  if constexpr (kStride == 1) {
    return _mm256_loadu_ps(p);
  } else if constexpr (kStride == 3) {
    const __m512 first = _mm512_loadu_ps(p), rest = _mm512_maskz_loadu_ps(0x3F, p + 16);
    const __m512i every_third = _mm512_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21, 0, 0, 0, 0, 0, 0, 0, 0);
    return _mm512_castps512_ps256(_mm512_permutex2var_ps(first, every_third, rest));
  } else {
    return _mm256_setr_ps(p[0], p[step], p[2 * step], p[3 * step], p[4 * step], p[5 * step], p[6 * step],
                          p[7 * step]);
  }
}

// SampleRowsOfEdgesVector eight pixels at a time, with AVX-512: every lane is the same
// float and double operations in the same order, so each pixel rounds the same. A run of
// eight columns or more has its last eight pixels sampled again when its width is not a
// multiple of eight; narrower runs go four at a time (the last four again) or, below
// four, one pixel at a time.
template <int kStride, typename Rows>
__attribute__((target(VANTOREL_AVX512))) void SampleRowsOfEdgesWide(const ColumnRun* runs, size_t run_count,
                                                                  const float* dx, const Rows& rows_of_image,
                                                                  size_t stride, const GridGeometry& g,
                                                                  int32_t y_begin, int32_t y_end) {
  const Rows rows = rows_of_image;
  const GridGeometry geometry = g;
  const size_t step = kStride > 0 ? static_cast<size_t>(kStride) : stride;
  const __m512d emin = _mm512_set1_pd(geometry.emin), sigma_r = _mm512_set1_pd(geometry.sigma_r),
                two = _mm512_set1_pd(2.0);
  const __m256 one = _mm256_set1_ps(1.0f);
  RunRow row{};
  for (int32_t y = y_begin; y < y_end; ++y) {
    const auto [row_edges, row_out] = rows.At(y, row);
    const __m256 dy = _mm256_set1_ps(row.dy), not_dy = _mm256_sub_ps(one, dy);
    for (size_t r = 0; r < run_count; ++r) {
      const ColumnRun run = runs[r];
      SetRun(row, run, dx);
      const float* const edges = row_edges + static_cast<size_t>(run.begin) * step;
      float* const out = row_out + run.begin;
      if (run.count < 8) {
        SampleRunFourAtATime(row, edges, step, geometry, out, run.count);
        continue;
      }
      const double* const lower0 = row.lower + row.row0;
      const double* const upper0 = row.upper + row.row0;
      const double* const lower1 = row.lower + row.row1;
      const double* const upper1 = row.upper + row.row1;
      const int32_t last = run.count - 8;
      for (int32_t i = 0;; i += 8) {
        if (i > last) i = last;
        // As EdgesOfRow::Four, less the clamps that cannot bite (see the kernel above).
        const __m512d fz = _mm512_add_pd(
            _mm512_div_pd(_mm512_sub_pd(_mm512_cvtps_pd(LoadEightEdges<kStride>(edges + i * step, step)), emin),
                          sigma_r),
            two);
        const __m256i lower = _mm512_cvttpd_epi32(fz);
        const __m256 dz = _mm512_cvtpd_ps(_mm512_sub_pd(fz, _mm512_cvtepi32_pd(lower)));
        alignas(32) int32_t z0[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(z0), lower);
        // The weights as SampleFourPixels forms them, eight lanes at a time.
        const __m256 dxs = _mm256_loadu_ps(row.dx + i);
        const __m256 not_dx = _mm256_sub_ps(one, dxs), not_dz = _mm256_sub_ps(one, dz);
        const __m256 xy00 = _mm256_mul_ps(not_dy, not_dx), xy10 = _mm256_mul_ps(not_dy, dxs);
        const __m256 xy01 = _mm256_mul_ps(not_dx, dy), xy11 = _mm256_mul_ps(dy, dxs);
        const __m512d w0 = _mm512_cvtps_pd(_mm256_mul_ps(not_dz, xy00)), w1 = _mm512_cvtps_pd(_mm256_mul_ps(not_dz, xy10));
        const __m512d w2 = _mm512_cvtps_pd(_mm256_mul_ps(not_dz, xy01)), w3 = _mm512_cvtps_pd(_mm256_mul_ps(not_dz, xy11));
        const __m512d w4 = _mm512_cvtps_pd(_mm256_mul_ps(xy00, dz)), w5 = _mm512_cvtps_pd(_mm256_mul_ps(xy10, dz));
        const __m512d w6 = _mm512_cvtps_pd(_mm256_mul_ps(xy01, dz)), w7 = _mm512_cvtps_pd(_mm256_mul_ps(xy11, dz));
        __m512d lower0_z0, lower0_z1, upper0_z0, upper0_z1, lower1_z0, lower1_z1, upper1_z0, upper1_z1;
        LoadEightCornerPairs(lower0, z0, lower0_z0, lower0_z1);
        LoadEightCornerPairs(upper0, z0, upper0_z0, upper0_z1);
        LoadEightCornerPairs(lower1, z0, lower1_z0, lower1_z1);
        LoadEightCornerPairs(upper1, z0, upper1_z0, upper1_z1);
        __m512d sum = _mm512_add_pd(_mm512_mul_pd(w0, lower0_z0), _mm512_mul_pd(w1, upper0_z0));
        sum = _mm512_add_pd(sum, _mm512_mul_pd(w2, lower1_z0));
        sum = _mm512_add_pd(sum, _mm512_mul_pd(w3, upper1_z0));
        sum = _mm512_add_pd(sum, _mm512_mul_pd(w4, lower0_z1));
        sum = _mm512_add_pd(sum, _mm512_mul_pd(w5, upper0_z1));
        sum = _mm512_add_pd(sum, _mm512_mul_pd(w6, lower1_z1));
        sum = _mm512_add_pd(sum, _mm512_mul_pd(w7, upper1_z1));
        _mm256_storeu_ps(out + i, _mm512_cvtpd_ps(sum));
        if (i == last) break;
      }
    }
  }
}
#pragma GCC diagnostic pop

}  // namespace vantorel
