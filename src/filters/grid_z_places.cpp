// Batches of fill cells along z, plain and with AVX2.
#include "filters/grid_z_places.h"

#include <immintrin.h>

#include "filters/cpu_features.h"

namespace vantorel {

namespace {

// The scalar remainder of a batch. The vector loops clear the upper register halves before
// it: legacy SSE code after AVX code with dirty upper halves runs several times slower.
__attribute__((always_inline)) inline void FillRange(const double* edges, int32_t from, int32_t to,
                                                     const GridGeometry& g, int32_t* z) {
  for (int32_t i = from; i < to; ++i) z[i] = FillCellZ(edges[i], g);
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

void FillCellsOnZ(const double* edges, int32_t count, const GridGeometry& g, int32_t* z) {
  if (HasAvx2()) return FillCellsOnZVector(edges, count, g, z);
  FillRange(edges, 0, count, g, z);
}

}  // namespace vantorel
