// Eight-bit three-channel bilateral filter: each channel smoothed by its own edges on the
// 0-to-1 scale, then rounded back to bytes.
#include "filters/bilateral_filters.h"
#include "filters/bilateral_grid.h"
#include "filters/output_matrix.h"
#include "filters/work_matrix.h"

namespace vantorel {

void Bilateral8UC3CPU(const cv::Mat& source, cv::Mat& destination, double sigma_s, double sigma_r) {
  CV_Assert(source.type() == CV_8UC3 && !source.empty());
  const int rows = source.rows;
  const int cols = source.cols;
  // A channel reads only itself, so with the destination being the source, writing channel
  // k leaves the channels still to be read untouched; one channel's matrices at a time.
  cv::Mat target = destination.data == source.data ? source : destination;
  PrepareOutput(target, rows, cols, CV_8UC3);
  WorkMatrix values(cols, rows, 0.0);
  WorkMatrix result(cols, rows, 0.0);
  for (int k = 0; k < 3; ++k) {
    LoadByteChannel(source, k, values);
    BilateralGridCPU(values, values, sigma_s, sigma_r, result);
    StoreByteChannel(result, target, k);
  }
  destination = target;
}

}  // namespace vantorel
