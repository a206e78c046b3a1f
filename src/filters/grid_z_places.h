// The z cells a batch of edge values is filled into, for sources whose edges are any
// double: the same expression as FillCellZ, four values at a time where the processor has
// AVX2 (the division by sigma_r is most of the work). Edges must lie in [emin, emax].
#pragma once

#include <cstdint>

#include "filters/grid_stream_parts.h"

namespace vantorel {

void FillCellsOnZ(const double* edges, int32_t count, const GridGeometry& g, int32_t* z);

}  // namespace vantorel
