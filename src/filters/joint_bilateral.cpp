// Joint bilateral filter: a float image smoothed along the edges of a guide.
#include "filters/bilateral_filters.h"
#include "filters/bilateral_grid.h"
#include "filters/output_matrix.h"
#include "filters/work_matrix.h"

namespace vantorel {

void JointBilateralCPU(const cv::Mat& source, const cv::Mat& guide, cv::Mat& output,
                       double sigma_s, double sigma_r) {
  CV_Assert(source.type() == CV_32FC1 && guide.type() == CV_32FC1 && !source.empty());
  CV_Assert(guide.rows == source.rows && guide.cols == source.cols);
  const int rows = source.rows;
  const int cols = source.cols;

  WorkMatrix values(cols, rows, 0.0);
  WorkMatrix edges(cols, rows, 0.0);
  WorkMatrix result(cols, rows, 0.0);
  LoadChannel(source, 0, 1, values);
  LoadChannel(guide, 0, 1, edges);
  BilateralGridCPU(values, edges, sigma_s, sigma_r, result);

  // Everything is read; the output may be the source or the guide.
  PrepareOutput(output, rows, cols, CV_32FC1);
  StoreChannel(result, output, 0, 1);
}

}  // namespace vantorel
