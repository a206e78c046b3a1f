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

// Row y of a tile's values or edges.
__attribute__((always_inline)) inline const float* RowOf(const float* first, size_t row_bytes, int32_t y) {
  return reinterpret_cast<const float*>(reinterpret_cast<const unsigned char*>(first) + y * row_bytes);
}

__attribute__((always_inline)) inline void WidenPlain(const FloatTile& tile, const GridGeometry& g, double* widened,
                                                      int32_t* cells) {
  for (int32_t y = 0, k = 0; y < tile.rows; ++y) {
    const float* const values = RowOf(tile.values, tile.value_row_bytes, y);
    const float* const edges = RowOf(tile.edges, tile.edge_row_bytes, y);
    for (int32_t i = 0; i < tile.columns; ++i, ++k) {
      widened[k] = static_cast<double>(values[i * tile.value_stride]);
      cells[k] = FillCellZ(static_cast<double>(edges[i * tile.edge_stride]), g);
    }
  }
}

// Four floats `stride` apart, widened.
__attribute__((target("avx2"), always_inline)) inline __m256d LoadFour(const float* p, size_t stride) {
  return _mm256_cvtps_pd(stride == 1 ? _mm_loadu_ps(p) : _mm_setr_ps(p[0], p[stride], p[2 * stride], p[3 * stride]));
}

// Pixels i .. i + 3 of a row.
template <bool kValuesAreEdges>
__attribute__((target("avx2"), always_inline)) inline void WidenFour(const float* values, size_t value_stride,
                                                                     const float* edges, size_t edge_stride, int32_t i,
                                                                     __m256d emin, __m256d sigma_r, double* widened,
                                                                     int32_t* cells) {
  const __m256d edge = LoadFour(edges + i * edge_stride, edge_stride);
  const __m256d value = kValuesAreEdges ? edge : LoadFour(values + i * value_stride, value_stride);
  _mm256_storeu_pd(widened + i, value);
  const __m256d position = _mm256_add_pd(_mm256_div_pd(_mm256_sub_pd(edge, emin), sigma_r), _mm256_set1_pd(0.5));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(cells + i),
                   _mm_add_epi32(_mm256_cvttpd_epi32(position), _mm_set1_epi32(kGridMargin)));
}

// Rows of four pixels or more, the strides fixed at compile time where they are 1 or 3 (a
// plane, a channel of a colour picture; 0: `tile`'s). With kValuesAreEdges the values are
// the edges. The outputs never overlap the samples, so the last four pixels of a row may
// be done again (to the same values) instead of one by one.
template <bool kValuesAreEdges, int kValueStride, int kEdgeStride>
__attribute__((target("avx2"))) void WidenVector(const FloatTile& tile, const GridGeometry& g, double* widened,
                                                 int32_t* cells) {
  const __m256d emin = _mm256_set1_pd(g.emin), sigma_r = _mm256_set1_pd(g.sigma_r);
  const size_t value_stride = kValueStride > 0 ? kValueStride : tile.value_stride;
  const size_t edge_stride = kEdgeStride > 0 ? kEdgeStride : tile.edge_stride;
  const int32_t columns = tile.columns, rows = tile.rows, last = columns - 4;
  const size_t value_row_bytes = tile.value_row_bytes, edge_row_bytes = tile.edge_row_bytes;
  const float* values = tile.values;
  const float* edges = tile.edges;
  for (int32_t y = 0; y < rows; ++y) {
    int32_t i = 0;
    for (; i <= last; i += 4) {
      WidenFour<kValuesAreEdges>(values, value_stride, edges, edge_stride, i, emin, sigma_r, widened, cells);
    }
    if (i < columns) {
      WidenFour<kValuesAreEdges>(values, value_stride, edges, edge_stride, last, emin, sigma_r, widened, cells);
    }
    values = RowOf(values, value_row_bytes, 1);
    edges = RowOf(edges, edge_row_bytes, 1);
    widened += columns;
    cells += columns;
  }
  _mm256_zeroupper();
}

}  // namespace

void FillCellsOnZ(const double* edges, int32_t count, const GridGeometry& g, int32_t* z) {
  if (HasAvx2()) return FillCellsOnZVector(edges, count, g, z);
  FillRange(edges, 0, count, g, z);
}

void WidenAndFillCells(const FloatTile& tile, const GridGeometry& g, double* widened, int32_t* cells) {
  if (tile.columns >= 4 && HasAvx2()) {
    const size_t vs = tile.value_stride, es = tile.edge_stride;
    if (tile.values == tile.edges && vs == es && tile.value_row_bytes == tile.edge_row_bytes) {
      if (es == 1) return WidenVector<true, 1, 1>(tile, g, widened, cells);
      if (es == 3) return WidenVector<true, 3, 3>(tile, g, widened, cells);
      return WidenVector<true, 0, 0>(tile, g, widened, cells);
    }
    if (vs == 1 && es == 1) return WidenVector<false, 1, 1>(tile, g, widened, cells);
    if (vs == 1 && es == 3) return WidenVector<false, 1, 3>(tile, g, widened, cells);
    return WidenVector<false, 0, 0>(tile, g, widened, cells);
  }
  WidenPlain(tile, g, widened, cells);
}

}  // namespace vantorel
