// The read-back of one image row of a run of pixel columns that share their two sample
// slices: where each pixel's edge puts it along z, its trilinear sample of the normalised
// grid (value only), and the store of the result. A plain version, and one that takes four
// pixels at a time with AVX2; the lanes round exactly as the plain code does.
//
// Edges and outputs are reached through small row views (EdgesOfRow, SampleLevelsOfRow, ValuesOfRow,
// RoundedOfRow)
// that the sources and sinks hand out. Everything the AVX2 code calls is inlined into it:
// legacy SSE code run while the upper register halves are in use is several times slower.
#pragma once

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "filters/grid_stream_parts.h"
#include "filters/trilinear_weights.h"

#define VANTOREL_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline
#define VANTOREL_INLINE __attribute__((always_inline)) inline

namespace vantorel {

// What the pixels of one row of a run share.
struct RunRow {
  const double* lower;  // the normalised slice at the run's lower x corner
  const double* upper;  // ... at its upper x corner
  size_t row0, row1;    // offsets of the two sample rows' first cells in the slices
  float dy;
  const float* dx;      // per pixel of the run
  int32_t count;
};

// Edges of any value (float or double samples `stride` elements apart), placed by division.
template <typename T>
struct EdgesOfRow {
  const T* first;
  size_t stride;
  const GridGeometry* g;

  VANTOREL_INLINE AxisPlace One(int32_t i) const { return PlaceOnZ(static_cast<double>(first[i * stride]), *g); }

  // Positions along z are at least 2 and below z_size, far inside int32, so a signed
  // truncation gives what the unsigned one does, and a signed minimum the unsigned one.
  VANTOREL_AVX2_INLINE void Four(int32_t i, __m128i& z0, __m128i& z1, __m128& dz) const {
    const T* p = first + i * stride;
    __m256d edges;
    if constexpr (sizeof(T) == sizeof(float)) {
      edges = _mm256_cvtps_pd(stride == 1 ? _mm_loadu_ps(p) : _mm_set_ps(p[3 * stride], p[2 * stride], p[stride], p[0]));
    } else {
      edges = stride == 1 ? _mm256_loadu_pd(p) : _mm256_set_pd(p[3 * stride], p[2 * stride], p[stride], p[0]);
    }
    const __m256d fz = _mm256_add_pd(_mm256_div_pd(_mm256_sub_pd(edges, _mm256_set1_pd(g->emin)), _mm256_set1_pd(g->sigma_r)),
                                     _mm256_set1_pd(2.0));
    const __m128i z_last = _mm_set1_epi32(g->z_size - 1);
    z0 = _mm_min_epi32(_mm256_cvttpd_epi32(fz), z_last);
    z1 = _mm_min_epi32(_mm_add_epi32(z0, _mm_set1_epi32(1)), z_last);
    dz = _mm256_cvtpd_ps(_mm256_sub_pd(fz, _mm256_cvtepi32_pd(z0)));
  }
};

// Edges of unsigned samples (bytes or 16 bits), whose places were worked out once per level.
template <typename T>
struct SampleLevelsOfRow {
  const T* first;
  size_t stride;
  const AxisPlace* by_level;

  VANTOREL_INLINE AxisPlace One(int32_t i) const { return by_level[first[i * stride]]; }

  VANTOREL_AVX2_INLINE void Four(int32_t i, __m128i& z0, __m128i& z1, __m128& dz) const {
    const T* p = first + i * stride;
    const AxisPlace& a = by_level[p[0]];
    const AxisPlace& b = by_level[p[stride]];
    const AxisPlace& c = by_level[p[2 * stride]];
    const AxisPlace& d = by_level[p[3 * stride]];
    z0 = _mm_set_epi32(d.lower, c.lower, b.lower, a.lower);
    z1 = _mm_set_epi32(d.upper, c.upper, b.upper, a.upper);
    dz = _mm_set_ps(d.fraction, c.fraction, b.fraction, a.fraction);
  }
};
using LevelsOfRow = SampleLevelsOfRow<uint8_t>;

// Results stored as float or double, `stride` elements apart.
template <typename T>
struct ValuesOfRow {
  T* first;
  size_t stride;

  VANTOREL_INLINE void One(int32_t i, double v) const { first[i * stride] = static_cast<T>(v); }

  VANTOREL_AVX2_INLINE void Four(int32_t i, __m256d v) const {
    T* p = first + i * stride;
    alignas(32) T lanes[4];
    if constexpr (sizeof(T) == sizeof(float)) {
      const __m128 f = _mm256_cvtpd_ps(v);
      if (stride == 1) return _mm_storeu_ps(p, f);
      _mm_store_ps(lanes, f);
    } else {
      if (stride == 1) return _mm256_storeu_pd(p, v);
      _mm256_store_pd(lanes, v);
    }
    for (int k = 0; k < 4; ++k) p[k * stride] = lanes[k];
  }
};

// Results stored as unsigned samples (bytes or 16 bits): v * largest + 0.5 truncated
// (halves up), capped at the largest level (255 or 65535).
template <typename T>
struct RoundedOfRow {
  static constexpr int kLargest = std::numeric_limits<T>::max();
  T* first;
  size_t stride;

  VANTOREL_INLINE void One(int32_t i, double v) const {
    const int level = static_cast<int>(v * static_cast<double>(kLargest) + 0.5);
    first[i * stride] = static_cast<T>(std::min(level, kLargest));
  }

  // Each sample is the low byte or word of its lane (what static_cast<T> keeps), stored
  // straight from the vector.
  VANTOREL_AVX2_INLINE void Four(int32_t i, __m256d v) const {
    const __m256d scaled =
        _mm256_add_pd(_mm256_mul_pd(v, _mm256_set1_pd(static_cast<double>(kLargest))), _mm256_set1_pd(0.5));
    const __m128i levels = _mm_min_epi32(_mm256_cvttpd_epi32(scaled), _mm_set1_epi32(kLargest));
    T* p = first + i * stride;
    if constexpr (sizeof(T) == 1) {
      p[0] = static_cast<T>(_mm_extract_epi8(levels, 0));
      p[stride] = static_cast<T>(_mm_extract_epi8(levels, 4));
      p[2 * stride] = static_cast<T>(_mm_extract_epi8(levels, 8));
      p[3 * stride] = static_cast<T>(_mm_extract_epi8(levels, 12));
    } else {
      p[0] = static_cast<T>(_mm_extract_epi16(levels, 0));
      p[stride] = static_cast<T>(_mm_extract_epi16(levels, 2));
      p[2 * stride] = static_cast<T>(_mm_extract_epi16(levels, 4));
      p[3 * stride] = static_cast<T>(_mm_extract_epi16(levels, 6));
    }
  }
};
using BytesOfRow = RoundedOfRow<uint8_t>;
using WordsOfRow = RoundedOfRow<uint16_t>;

// One pixel, as the reference core samples it.
template <typename Edges>
VANTOREL_INLINE double SampleOnePixel(const RunRow& row, const Edges& edges, int32_t i) {
  const AxisPlace zp = edges.One(i);
  float w[8];
  TrilinearWeights(row.dx[i], row.dy, zp.fraction, w);
  const double* const lower = row.lower;
  const double* const upper = row.upper;
  const size_t y0z0 = row.row0 + zp.lower, y1z0 = row.row1 + zp.lower;
  const size_t y0z1 = row.row0 + zp.upper, y1z1 = row.row1 + zp.upper;
  return double(w[0]) * lower[y0z0] + double(w[1]) * upper[y0z0] + double(w[2]) * lower[y1z0] +
         double(w[3]) * upper[y1z0] + double(w[4]) * lower[y0z1] + double(w[5]) * upper[y0z1] +
         double(w[6]) * lower[y1z1] + double(w[7]) * upper[y1z1];
}

template <typename Edges, typename Out>
void SampleRunRowPlain(const RunRow& row, const Edges& edges, const Out& out) {
  for (int32_t i = 0; i < row.count; ++i) out.One(i, SampleOnePixel(row, edges, i));
}

// The z0 and z1 corners of four pixels along one grid row of one slice, as two vectors
// (z0 of pixels 0..3, z1 of pixels 0..3); a pixel's two corners are adjacent cells.
VANTOREL_AVX2_INLINE void LoadCornerPairs(const double* row, const int32_t (&z0)[4], __m256d& at_z0,
                                          __m256d& at_z1) {
  const __m256d pixels_0_2 =
      _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(row + z0[0])), _mm_loadu_pd(row + z0[2]), 1);
  const __m256d pixels_1_3 =
      _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(row + z0[1])), _mm_loadu_pd(row + z0[3]), 1);
  at_z0 = _mm256_unpacklo_pd(pixels_0_2, pixels_1_3);
  at_z1 = _mm256_unpackhi_pd(pixels_0_2, pixels_1_3);
}

// Four pixels whose upper z corner is the cell after the lower one.
VANTOREL_AVX2_INLINE __m256d SampleFourPixels(const RunRow& row, int32_t i, const int32_t (&z0)[4], __m128 dz) {
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 dx = _mm_loadu_ps(row.dx + i);
  const __m128 dy = _mm_set1_ps(row.dy);
  const __m128 not_dx = _mm_sub_ps(one, dx), not_dy = _mm_sub_ps(one, dy), not_dz = _mm_sub_ps(one, dz);
  // The (x, y) factors first, then the z factor, as TrilinearWeights forms them.
  const __m128 xy00 = _mm_mul_ps(not_dy, not_dx), xy10 = _mm_mul_ps(not_dy, dx);
  const __m128 xy01 = _mm_mul_ps(not_dx, dy), xy11 = _mm_mul_ps(dy, dx);
  const __m256d w0 = _mm256_cvtps_pd(_mm_mul_ps(not_dz, xy00)), w1 = _mm256_cvtps_pd(_mm_mul_ps(not_dz, xy10));
  const __m256d w2 = _mm256_cvtps_pd(_mm_mul_ps(not_dz, xy01)), w3 = _mm256_cvtps_pd(_mm_mul_ps(not_dz, xy11));
  const __m256d w4 = _mm256_cvtps_pd(_mm_mul_ps(xy00, dz)), w5 = _mm256_cvtps_pd(_mm_mul_ps(xy10, dz));
  const __m256d w6 = _mm256_cvtps_pd(_mm_mul_ps(xy01, dz)), w7 = _mm256_cvtps_pd(_mm_mul_ps(xy11, dz));

  __m256d lower0_z0, lower0_z1, upper0_z0, upper0_z1, lower1_z0, lower1_z1, upper1_z0, upper1_z1;
  LoadCornerPairs(row.lower + row.row0, z0, lower0_z0, lower0_z1);
  LoadCornerPairs(row.upper + row.row0, z0, upper0_z0, upper0_z1);
  LoadCornerPairs(row.lower + row.row1, z0, lower1_z0, lower1_z1);
  LoadCornerPairs(row.upper + row.row1, z0, upper1_z0, upper1_z1);

  __m256d sum = _mm256_add_pd(_mm256_mul_pd(w0, lower0_z0), _mm256_mul_pd(w1, upper0_z0));
  sum = _mm256_add_pd(sum, _mm256_mul_pd(w2, lower1_z0));
  sum = _mm256_add_pd(sum, _mm256_mul_pd(w3, upper1_z0));
  sum = _mm256_add_pd(sum, _mm256_mul_pd(w4, lower0_z1));
  sum = _mm256_add_pd(sum, _mm256_mul_pd(w5, upper0_z1));
  sum = _mm256_add_pd(sum, _mm256_mul_pd(w6, lower1_z1));
  return _mm256_add_pd(sum, _mm256_mul_pd(w7, upper1_z1));
}

template <typename Edges, typename Out>
VANTOREL_AVX2_INLINE void SampleFourAt(const RunRow& row, const Edges& edges, const Out& out, int32_t i) {
  __m128i z0, z1;
  __m128 dz;
  edges.Four(i, z0, z1, dz);
  // A clamped upper corner (never inside the image) goes the plain way.
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_add_epi32(z0, _mm_set1_epi32(1)), z1)) != 0xFFFF) {
    for (int32_t k = i; k < i + 4; ++k) out.One(k, SampleOnePixel(row, edges, k));
    return;
  }
  alignas(16) int32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), z0);
  out.Four(i, SampleFourPixels(row, i, lanes, dz));
}

// The output never overlaps the edges it reads, so a row's last four pixels may be
// sampled again (to the same values) instead of one by one.
template <typename Edges, typename Out>
__attribute__((target("avx2"))) void SampleRunRowVector(const RunRow& row, const Edges& edges, const Out& out) {
  if (row.count < 4) {
    for (int32_t i = 0; i < row.count; ++i) out.One(i, SampleOnePixel(row, edges, i));
    return;
  }
  int32_t i = 0;
  for (; i + 4 <= row.count; i += 4) SampleFourAt(row, edges, out, i);
  if (i < row.count) SampleFourAt(row, edges, out, row.count - 4);
}

}  // namespace vantorel
