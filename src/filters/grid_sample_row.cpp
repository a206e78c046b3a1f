// The read-back of a batch of pixels, plain and with AVX2.
#include "filters/grid_sample_row.h"

#include <immintrin.h>

#include "filters/cpu_features.h"
#include "filters/trilinear_weights.h"

namespace vantorel {

namespace {

// Always inlined, so that inside the AVX2 function it is compiled as AVX2 code too: legacy
// SSE code after AVX code with dirty upper register halves runs several times slower.
__attribute__((always_inline)) inline double SampleOne(const SampleJob& job, int32_t i) {
  float w[8];
  TrilinearWeights(job.dx[i], job.dy[i], job.dz[i], w);
  const double* const lower = job.lower;
  const double* const upper = job.upper;
  const size_t y0z0 = job.row0[i] + job.z0[i], y1z0 = job.row1[i] + job.z0[i];
  const size_t y0z1 = job.row0[i] + job.z1[i], y1z1 = job.row1[i] + job.z1[i];
  return double(w[0]) * lower[y0z0] + double(w[1]) * upper[y0z0] + double(w[2]) * lower[y1z0] +
         double(w[3]) * upper[y1z0] + double(w[4]) * lower[y0z1] + double(w[5]) * upper[y0z1] +
         double(w[6]) * lower[y1z1] + double(w[7]) * upper[y1z1];
}

// The z0 and z1 corners of four pixels in one slice, as two vectors (z0 of pixels 0..3,
// z1 of pixels 0..3); `at` holds each pixel's z0 cell. A pixel's two corners are adjacent.
__attribute__((target("avx2"), always_inline)) inline void LoadCornerPairs(const double* slice, const size_t (&at)[4],
                                                             __m256d& at_z0, __m256d& at_z1) {
  const __m256d pixels_0_2 =
      _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(slice + at[0])), _mm_loadu_pd(slice + at[2]), 1);
  const __m256d pixels_1_3 =
      _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(slice + at[1])), _mm_loadu_pd(slice + at[3]), 1);
  at_z0 = _mm256_unpacklo_pd(pixels_0_2, pixels_1_3);
  at_z1 = _mm256_unpackhi_pd(pixels_0_2, pixels_1_3);
}

// Four pixels whose upper z corner is the cell after the lower one (always so inside the
// image; a clamped corner goes the plain way).
__attribute__((target("avx2"), always_inline)) inline void SampleFour(const SampleJob& job, int32_t i) {
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 dx = _mm_loadu_ps(job.dx + i), dy = _mm_loadu_ps(job.dy + i), dz = _mm_loadu_ps(job.dz + i);
  const __m128 not_dx = _mm_sub_ps(one, dx), not_dy = _mm_sub_ps(one, dy), not_dz = _mm_sub_ps(one, dz);
  // The (x, y) factors first, then the z factor, as TrilinearWeights forms them.
  const __m128 xy00 = _mm_mul_ps(not_dy, not_dx), xy10 = _mm_mul_ps(not_dy, dx);
  const __m128 xy01 = _mm_mul_ps(not_dx, dy), xy11 = _mm_mul_ps(dy, dx);
  const __m256d w0 = _mm256_cvtps_pd(_mm_mul_ps(not_dz, xy00)), w1 = _mm256_cvtps_pd(_mm_mul_ps(not_dz, xy10));
  const __m256d w2 = _mm256_cvtps_pd(_mm_mul_ps(not_dz, xy01)), w3 = _mm256_cvtps_pd(_mm_mul_ps(not_dz, xy11));
  const __m256d w4 = _mm256_cvtps_pd(_mm_mul_ps(xy00, dz)), w5 = _mm256_cvtps_pd(_mm_mul_ps(xy10, dz));
  const __m256d w6 = _mm256_cvtps_pd(_mm_mul_ps(xy01, dz)), w7 = _mm256_cvtps_pd(_mm_mul_ps(xy11, dz));

  size_t at_row0[4], at_row1[4];
  for (int k = 0; k < 4; ++k) {
    at_row0[k] = job.row0[i + k] + job.z0[i + k];
    at_row1[k] = job.row1[i + k] + job.z0[i + k];
  }
  __m256d lower0_z0, lower0_z1, upper0_z0, upper0_z1, lower1_z0, lower1_z1, upper1_z0, upper1_z1;
  LoadCornerPairs(job.lower, at_row0, lower0_z0, lower0_z1);
  LoadCornerPairs(job.upper, at_row0, upper0_z0, upper0_z1);
  LoadCornerPairs(job.lower, at_row1, lower1_z0, lower1_z1);
  LoadCornerPairs(job.upper, at_row1, upper1_z0, upper1_z1);

  __m256d sum = _mm256_add_pd(_mm256_mul_pd(w0, lower0_z0), _mm256_mul_pd(w1, upper0_z0));
  sum = _mm256_add_pd(sum, _mm256_mul_pd(w2, lower1_z0));
  sum = _mm256_add_pd(sum, _mm256_mul_pd(w3, upper1_z0));
  sum = _mm256_add_pd(sum, _mm256_mul_pd(w4, lower0_z1));
  sum = _mm256_add_pd(sum, _mm256_mul_pd(w5, upper0_z1));
  sum = _mm256_add_pd(sum, _mm256_mul_pd(w6, lower1_z1));
  sum = _mm256_add_pd(sum, _mm256_mul_pd(w7, upper1_z1));
  _mm256_storeu_pd(job.out + i, sum);
}

__attribute__((target("avx2"), always_inline)) inline bool UpperFollowsLower(const SampleJob& job, int32_t i) {
  const __m128i z0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(job.z0 + i));
  const __m128i z1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(job.z1 + i));
  const __m128i next = _mm_add_epi32(z0, _mm_set1_epi32(1));
  return _mm_movemask_epi8(_mm_cmpeq_epi32(next, z1)) == 0xFFFF;
}

}  // namespace

void SamplePixelsPlain(const SampleJob& job) {
  for (int32_t i = 0; i < job.count; ++i) job.out[i] = SampleOne(job, i);
}

__attribute__((target("avx2"))) void SamplePixelsVector(const SampleJob& job) {
  int32_t i = 0;
  for (; i + 4 <= job.count; i += 4) {
    if (UpperFollowsLower(job, i)) {
      SampleFour(job, i);
    } else {
      for (int32_t k = i; k < i + 4; ++k) job.out[k] = SampleOne(job, k);
    }
  }
  for (; i < job.count; ++i) job.out[i] = SampleOne(job, i);
}

SampleFunction BestSamplePixels() { return HasAvx2() ? SamplePixelsVector : SamplePixelsPlain; }

}  // namespace vantorel
