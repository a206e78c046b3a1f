// Three-channel float bilateral filter: each channel smoothed by its own edges.
#include "filters/bilateral_filters.h"
#include "filters/bilateral_grid.h"
#include "filters/output_matrix.h"
#include "filters/work_matrix.h"

namespace vantorel {

void BilateralC3CPU(const cv::Mat& source, cv::Mat& output, double sigma_s, double sigma_r) {
  CV_Assert(source.type() == CV_32FC3 && !source.empty());
  const int rows = source.rows;
  const int cols = source.cols;

  WorkMatrix values[3] = {{cols, rows, 0.0}, {cols, rows, 0.0}, {cols, rows, 0.0}};
  WorkMatrix results[3] = {{cols, rows, 0.0}, {cols, rows, 0.0}, {cols, rows, 0.0}};
  for (int k = 0; k < 3; ++k) LoadChannel(source, k, 3, values[k]);
  for (int k = 0; k < 3; ++k) BilateralGridCPU(values[k], values[k], sigma_s, sigma_r, results[k]);

  PrepareOutput(output, rows, cols, CV_32FC3);
  for (int k = 0; k < 3; ++k) StoreChannel(results[k], output, k, 3);
}

}  // namespace vantorel
