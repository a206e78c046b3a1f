// The straightforward bilateral grid: the whole grid, six full blur passes, read-back.
// Slow and memory-hungry; it is the statement of the arithmetic that the library's core
// must match bit for bit, and is used only by the tests and the benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include "work_matrix.h"

namespace vantorel {

struct GridCell {
  double value = 0.0;   // sum of accumulated values; after normalisation their mean
  double weight = 0.0;  // number of accumulated pixels; after normalisation 1 or 0
};

// Cell (x, y, z) is storage[(x * y_size + y) * z_size + z]: x slowest, z fastest.
struct BilateralGrid {
  int32_t x_size = 0;
  int32_t y_size = 0;
  int32_t z_size = 0;
  std::vector<GridCell> storage;
};

// Same contract as BilateralGridCPU, except that `result` must not be `edge`.
void BilateralGridReferenceCPU(const WorkMatrix& input, const WorkMatrix& edge, double sigma_s,
                               double sigma_r, WorkMatrix& result);

// A grid of all-zero cells sized for a width x height input whose edge values span
// `edge_span`: trunc(extent / sigma) + 5 cells per axis, a margin of two on each side.
BilateralGrid MakeEmptyGrid(int32_t width, int32_t height, double edge_span, double sigma_s,
                            double sigma_r);

// The grid filled from input and edge, blurred and normalised, ready to be sampled at
// (x / sigma_s + 2, y / sigma_s + 2, (edge - emin) / sigma_r + 2). Sets emin.
BilateralGrid BuildBlurredGrid(const WorkMatrix& input, const WorkMatrix& edge, double sigma_s,
                               double sigma_r, double& emin);

// The six blur passes (x, x, y, y, z, z) and the normalisation of a filled grid.
void BlurAndNormalise(BilateralGrid& grid);

// Trilinear interpolation of both cell components at grid position (fx, fy, fz).
GridCell TrilinearSample(const BilateralGrid& grid, double fx, double fy, double fz);

}  // namespace vantorel
