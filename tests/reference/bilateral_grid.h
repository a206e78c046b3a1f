// The library's streaming grid filter run over work matrices, as the tests and benchmarks
// call it. The library itself runs the same core on image channels in place (the adapters
// of filters/bilateral_filters.h).
#pragma once

#include "work_matrix.h"

namespace vantorel {

// Smooths `input` along the edges of `edge` (same sizes; may be the same matrix).
//   sigma_s  pixels per grid cell along x and y, > 0.
//   sigma_r  edge units per grid cell along the edge-value axis, > 0.
//   result   resized to input's sizes and fully written; may be `input` or `edge`.
// Uses up to WorkerCount() threads; the result does not depend on the thread count.
void BilateralGridCPU(const WorkMatrix& input, const WorkMatrix& edge, double sigma_s,
                      double sigma_r, WorkMatrix& result);

}  // namespace vantorel
