// The whole pipeline with a given set of edge-preserving filters. DehazeCPU runs it with
// the library's own; the exactness tests with the straightforward ones.
#pragma once

#include "imagedehaze/edge_filters.h"
#include "vantorel/dehaze.h"

namespace vantorel {

// Same contract as DehazeCPU with options.
bool RunPipeline(unsigned char* data, int cols, int rows, float haze_thickness,
                 const DehazeOptions& options, const EdgeFilters& filters);
// Same contract as Dehaze16CPU.
bool RunPipeline(unsigned short* data, int cols, int rows, float haze_thickness,
                 const DehazeOptions& options, const EdgeFilters& filters);

}  // namespace vantorel
