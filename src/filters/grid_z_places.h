// The z cells a batch of edge values is filled into, for sources whose edges are any
// double: the same expression as FillCellZ, four values at a time where the processor has
// AVX2 (the division by sigma_r is most of the work). Edges must lie in [emin, emax].
// For float sources, the tile's samples are read, widened and placed in one pass.
#pragma once

#include <cstddef>
#include <cstdint>

#include "filters/grid_stream_parts.h"

namespace vantorel {

void FillCellsOnZ(const double* edges, int32_t count, const GridGeometry& g, int32_t* z);

// A tile of float samples, `rows` image rows of `columns` pixels: values `value_stride`
// floats apart along a row and rows `value_row_bytes` apart, edges likewise. Each value is
// widened to double into `widened` and each edge's cell (FillCellZ of the widened edge)
// goes into `cells`, both row after row, `columns` a row. `values` may be `edges` (a
// channel smoothed by its own edges): each sample is then read once.
struct FloatTile {
  const float* values;
  size_t value_stride, value_row_bytes;
  const float* edges;
  size_t edge_stride, edge_row_bytes;
  int32_t columns, rows;
};
void WidenAndFillCells(const FloatTile& tile, const GridGeometry& g, double* widened, int32_t* cells);

}  // namespace vantorel
