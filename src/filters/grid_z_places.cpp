// Batches of z places, plain and with AVX2.
#include "filters/grid_z_places.h"

#include <immintrin.h>

#include "filters/cpu_features.h"

namespace vantorel {

namespace {

// The scalar remainder of a batch. The vector loops clear the upper register halves before
// it: legacy SSE code after AVX code with dirty upper halves runs several times slower.
__attribute__((always_inline)) inline void PlaceRange(const double* edges, int32_t from, int32_t to,
                                                      const GridGeometry& g, uint32_t* z0, uint32_t* z1,
                                                      float* dz) {
  for (int32_t i = from; i < to; ++i) {
    const AxisPlace place = PlaceOnZ(edges[i], g);
    z0[i] = place.lower;
    z1[i] = place.upper;
    dz[i] = place.fraction;
  }
}

__attribute__((always_inline)) inline void FillRange(const double* edges, int32_t from, int32_t to,
                                                     const GridGeometry& g, int32_t* z) {
  for (int32_t i = from; i < to; ++i) z[i] = FillCellZ(edges[i], g);
}

// Positions along z are at least 2 and below z_size, far inside int32, so a signed
// truncation gives what the unsigned one does, and a signed minimum the unsigned one.
__attribute__((target("avx2"))) void PlaceEdgesOnZVector(const double* edges, int32_t count,
                                                          const GridGeometry& g, uint32_t* z0,
                                                          uint32_t* z1, float* dz) {
  const __m256d emin = _mm256_set1_pd(g.emin), sigma_r = _mm256_set1_pd(g.sigma_r);
  const __m256d two = _mm256_set1_pd(2.0);
  const __m128i z_last = _mm_set1_epi32(g.z_size - 1), one = _mm_set1_epi32(1);
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m256d fz = _mm256_add_pd(_mm256_div_pd(_mm256_sub_pd(_mm256_loadu_pd(edges + i), emin), sigma_r), two);
    const __m128i lower = _mm_min_epi32(_mm256_cvttpd_epi32(fz), z_last);
    const __m128i upper = _mm_min_epi32(_mm_add_epi32(lower, one), z_last);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(z0 + i), lower);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(z1 + i), upper);
    _mm_storeu_ps(dz + i, _mm256_cvtpd_ps(_mm256_sub_pd(fz, _mm256_cvtepi32_pd(lower))));
  }
  _mm256_zeroupper();
  PlaceRange(edges, i, count, g, z0, z1, dz);
}

__attribute__((target("avx2"))) void FillCellsOnZVector(const double* edges, int32_t count,
                                                         const GridGeometry& g, int32_t* z) {
  const __m256d emin = _mm256_set1_pd(g.emin), sigma_r = _mm256_set1_pd(g.sigma_r);
  const __m256d half = _mm256_set1_pd(0.5);
  const __m128i margin = _mm_set1_epi32(kGridMargin);
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m256d position = _mm256_add_pd(_mm256_div_pd(_mm256_sub_pd(_mm256_loadu_pd(edges + i), emin), sigma_r), half);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(z + i), _mm_add_epi32(_mm256_cvttpd_epi32(position), margin));
  }
  _mm256_zeroupper();
  FillRange(edges, i, count, g, z);
}

}  // namespace

void PlaceEdgesOnZPlain(const double* edges, int32_t count, const GridGeometry& g, uint32_t* z0,
                        uint32_t* z1, float* dz) {
  PlaceRange(edges, 0, count, g, z0, z1, dz);
}

void FillCellsOnZPlain(const double* edges, int32_t count, const GridGeometry& g, int32_t* z) {
  FillRange(edges, 0, count, g, z);
}

void PlaceEdgesOnZ(const double* edges, int32_t count, const GridGeometry& g, uint32_t* z0,
                   uint32_t* z1, float* dz) {
  if (HasAvx2()) return PlaceEdgesOnZVector(edges, count, g, z0, z1, dz);
  PlaceEdgesOnZPlain(edges, count, g, z0, z1, dz);
}

void FillCellsOnZ(const double* edges, int32_t count, const GridGeometry& g, int32_t* z) {
  if (HasAvx2()) return FillCellsOnZVector(edges, count, g, z);
  FillCellsOnZPlain(edges, count, g, z);
}

}  // namespace vantorel
