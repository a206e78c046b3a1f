// Where a batch of edge values goes along z, for sources whose edges are any double: the
// same expressions as PlaceOnZ and FillCellZ, several values at a time where the processor
// has AVX2 (the division by sigma_r is most of the work). Edges must lie in [emin, emax].
#pragma once

#include <cstdint>

#include "filters/grid_stream_parts.h"

namespace vantorel {

// Sample corners and fraction of each edge, as PlaceOnZ gives them.
void PlaceEdgesOnZ(const double* edges, int32_t count, const GridGeometry& g, uint32_t* z0,
                   uint32_t* z1, float* dz);
// The z cell each edge is filled into, as FillCellZ gives it.
void FillCellsOnZ(const double* edges, int32_t count, const GridGeometry& g, int32_t* z);

// The plain versions, for the tests that compare both.
void PlaceEdgesOnZPlain(const double* edges, int32_t count, const GridGeometry& g, uint32_t* z0,
                        uint32_t* z1, float* dz);
void FillCellsOnZPlain(const double* edges, int32_t count, const GridGeometry& g, int32_t* z);

}  // namespace vantorel
