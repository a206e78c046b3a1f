// Eight-bit three-channel bilateral filter: each channel smoothed by its own edges on the
// 0-to-1 scale, then rounded back to bytes.
#include <algorithm>

#include "filters/bilateral_filters.h"
#include "filters/bilateral_grid.h"
#include "filters/output_matrix.h"
#include "filters/work_matrix.h"

namespace vantorel {

namespace {

void LoadBytes(const cv::Mat& source, WorkMatrix (&values)[3]) {
  for (int y = 0; y < source.rows; ++y) {
    const unsigned char* row = source.ptr<unsigned char>(y);
    for (int x = 0; x < source.cols; ++x) {
      for (int k = 0; k < 3; ++k) values[k](x, y) = static_cast<double>(row[x * 3 + k]) / 255.0;
    }
  }
}

// Rounds halves up: v * 255 + 0.5 truncated. The filter's results stay within the range of
// its inputs, so the sum lies in [0.5, 255.5] up to the rounding of the interpolation
// weights; the cap only guards that last fraction.
void StoreBytes(const WorkMatrix (&results)[3], cv::Mat& destination) {
  for (int y = 0; y < destination.rows; ++y) {
    unsigned char* row = destination.ptr<unsigned char>(y);
    for (int x = 0; x < destination.cols; ++x) {
      for (int k = 0; k < 3; ++k) {
        const int level = static_cast<int>(results[k](x, y) * 255.0 + 0.5);
        row[x * 3 + k] = static_cast<unsigned char>(std::min(level, 255));
      }
    }
  }
}

}  // namespace

void Bilateral8UC3CPU(const cv::Mat& source, cv::Mat& destination, double sigma_s, double sigma_r) {
  CV_Assert(source.type() == CV_8UC3 && !source.empty());
  const int rows = source.rows;
  const int cols = source.cols;

  WorkMatrix values[3] = {{cols, rows, 0.0}, {cols, rows, 0.0}, {cols, rows, 0.0}};
  WorkMatrix results[3] = {{cols, rows, 0.0}, {cols, rows, 0.0}, {cols, rows, 0.0}};
  LoadBytes(source, values);
  for (int k = 0; k < 3; ++k) BilateralGridCPU(values[k], values[k], sigma_s, sigma_r, results[k]);

  PrepareOutput(destination, rows, cols, CV_8UC3);
  StoreBytes(results, destination);
}

}  // namespace vantorel
