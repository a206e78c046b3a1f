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
  // A channel reads only itself, so with the output being the source, writing channel k
  // leaves the channels still to be read untouched; one channel's matrices at a time.
  cv::Mat target = output.data == source.data ? source : output;
  PrepareOutput(target, rows, cols, CV_32FC3);
  WorkMatrix values(cols, rows, 0.0);
  WorkMatrix result(cols, rows, 0.0);
  for (int k = 0; k < 3; ++k) {
    LoadChannel(source, k, 3, values);
    BilateralGridCPU(values, values, sigma_s, sigma_r, result);
    StoreChannel(result, target, k, 3);
  }
  output = target;
}

}  // namespace vantorel
