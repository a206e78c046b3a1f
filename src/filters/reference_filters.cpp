// The filter adapters written plainly, step by step.
#include "filters/reference_filters.h"

#include <atomic>

#include "filters/bilateral_grid.h"
#include "filters/output_matrix.h"
#include "filters/work_matrix.h"

namespace vantorel {

namespace {

std::atomic<bool> reference_filters{false};

}  // namespace

void UseReferenceFilters(bool on) { reference_filters = on; }
bool ReferenceFiltersInUse() { return reference_filters; }

void JointBilateralReferenceCPU(const cv::Mat& source, const cv::Mat& guide, cv::Mat& output,
                                double sigma_s, double sigma_r) {
  const int rows = source.rows;
  const int cols = source.cols;
  WorkMatrix values(cols, rows, 0.0);
  WorkMatrix edges(cols, rows, 0.0);
  WorkMatrix result(cols, rows, 0.0);
  LoadChannel(source, 0, 1, values);
  LoadChannel(guide, 0, 1, edges);
  BilateralGridReferenceCPU(values, edges, sigma_s, sigma_r, result);
  PrepareOutput(output, rows, cols, CV_32FC1);
  StoreChannel(result, output, 0, 1);
}

void BilateralC3ReferenceCPU(const cv::Mat& source, cv::Mat& output, double sigma_s, double sigma_r) {
  const int rows = source.rows;
  const int cols = source.cols;
  WorkMatrix values[3] = {{cols, rows, 0.0}, {cols, rows, 0.0}, {cols, rows, 0.0}};
  WorkMatrix results[3] = {{cols, rows, 0.0}, {cols, rows, 0.0}, {cols, rows, 0.0}};
  for (int k = 0; k < 3; ++k) LoadChannel(source, k, 3, values[k]);
  for (int k = 0; k < 3; ++k) {
    BilateralGridReferenceCPU(values[k], values[k], sigma_s, sigma_r, results[k]);
  }
  PrepareOutput(output, rows, cols, CV_32FC3);
  for (int k = 0; k < 3; ++k) StoreChannel(results[k], output, k, 3);
}

void Bilateral8UC3ReferenceCPU(const cv::Mat& source, cv::Mat& destination, double sigma_s,
                               double sigma_r) {
  const int rows = source.rows;
  const int cols = source.cols;
  WorkMatrix values[3] = {{cols, rows, 0.0}, {cols, rows, 0.0}, {cols, rows, 0.0}};
  WorkMatrix results[3] = {{cols, rows, 0.0}, {cols, rows, 0.0}, {cols, rows, 0.0}};
  for (int y = 0; y < rows; ++y) {
    const uchar* row = source.ptr<uchar>(y);
    for (int x = 0; x < cols; ++x) {
      for (int k = 0; k < 3; ++k) values[k](x, y) = static_cast<double>(row[x * 3 + k]) / 255.0;
    }
  }
  for (int k = 0; k < 3; ++k) {
    BilateralGridReferenceCPU(values[k], values[k], sigma_s, sigma_r, results[k]);
  }
  PrepareOutput(destination, rows, cols, CV_8UC3);
  for (int y = 0; y < rows; ++y) {
    uchar* row = destination.ptr<uchar>(y);
    for (int x = 0; x < cols; ++x) {
      for (int k = 0; k < 3; ++k) {
        row[x * 3 + k] = static_cast<uchar>(static_cast<int>(results[k](x, y) * 255.0 + 0.5));
      }
    }
  }
}

}  // namespace vantorel
