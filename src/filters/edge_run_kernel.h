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
  const __m256d emin = _mm256_set1_pd(geometry.emin), sigma_r = _mm256_set1_pd(geometry.sigma_r),
                two = _mm256_set1_pd(2.0);
  RunRow row{};
  for (int32_t y = y_begin; y < y_end; ++y) {
    const auto [row_edges, row_out] = rows.At(y, row);
    for (size_t r = 0; r < run_count; ++r) {
      const ColumnRun run = runs[r];
      row.lower = run.lower;
      row.upper = run.upper;
      row.dx = dx + run.begin;
      row.count = run.count;
      const float* const edges = row_edges + static_cast<size_t>(run.begin) * step;
      float* const out = row_out + run.begin;
      if (run.count < 4) {
        const EdgesOfRow<float> plain{edges, step, &geometry};
        for (int32_t i = 0; i < run.count; ++i) out[i] = static_cast<float>(SampleOnePixel(row, plain, i));
        continue;
      }
      const int32_t last = run.count - 4;
      for (int32_t i = 0;; i += 4) {
        if (i > last) i = last;
        const float* p = edges + static_cast<size_t>(i) * step;
        const __m128 four = step == 1 ? _mm_loadu_ps(p) : _mm_setr_ps(p[0], p[step], p[2 * step], p[3 * step]);
        // As EdgesOfRow::Four, less the clamps that cannot bite.
        const __m256d fz = _mm256_add_pd(_mm256_div_pd(_mm256_sub_pd(_mm256_cvtps_pd(four), emin), sigma_r), two);
        const __m128i lower = _mm256_cvttpd_epi32(fz);
        const __m128 dz = _mm256_cvtpd_ps(_mm256_sub_pd(fz, _mm256_cvtepi32_pd(lower)));
        alignas(16) int32_t z0[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(z0), lower);
        _mm_storeu_ps(out + i, _mm256_cvtpd_ps(SampleFourPixels(row, i, z0, dz)));
        if (i == last) break;
      }
    }
  }
}

}  // namespace vantorel
