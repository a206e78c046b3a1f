// The filter core: a bilateral filter computed on a down-sampled 3-D grid, over work
// matrices. The image adapters (bilateral_filters.h) run the same core on image channels
// in place.
#pragma once

#include "filters/work_matrix.h"

namespace vantorel {

// Smooths `input` along the edges of `edge` (same sizes; may be the same matrix).
//   sigma_s  pixels per grid cell along x and y, > 0.
//   sigma_r  edge units per grid cell along the edge-value axis, > 0.
//   result   resized to input's sizes and fully written; may be `input` or `edge`.
// Uses up to WorkerCount() threads; the result does not depend on the thread count.
void BilateralGridCPU(const WorkMatrix& input, const WorkMatrix& edge, double sigma_s,
                      double sigma_r, WorkMatrix& result);

}  // namespace vantorel
