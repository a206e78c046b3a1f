// The whole pipeline with a given set of edge-preserving filters. DehazeCPU runs it with
// the library's own; the exactness tests with the straightforward ones.
#pragma once

#include "imagedehaze/edge_filters.h"
#include "imagedehaze/frame_estimates.h"
#include "imagedehaze/working_images.h"
#include "vantorel/dehaze.h"

namespace vantorel {

// Same contract as DehazeCPU with options. `estimates`, when not null, sees every
// whole-picture estimate and may replace it (a clip's frames).
bool RunPipeline(unsigned char* data, int cols, int rows, float haze_thickness,
                 const DehazeOptions& options, const EdgeFilters& filters,
                 FrameEstimates* estimates = nullptr);
// Same contract as Dehaze16CPU.
bool RunPipeline(unsigned short* data, int cols, int rows, float haze_thickness,
                 const DehazeOptions& options, const EdgeFilters& filters);

// The same in working images the caller keeps from call to call (frame after frame):
// the stages write into them, so a frame of the size of the last allocates no frame-size
// memory. The result is the same as with fresh images.
bool RunPipeline(unsigned char* data, int cols, int rows, float haze_thickness, const DehazeOptions& options,
                 const EdgeFilters& filters, FrameEstimates* estimates, WorkingImages& work);
bool RunPipeline(unsigned short* data, int cols, int rows, float haze_thickness, const DehazeOptions& options,
                 const EdgeFilters& filters, WorkingImages& work);

}  // namespace vantorel
