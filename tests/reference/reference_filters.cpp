// The filter adapters written plainly, step by step.
#include "reference_filters.h"

#include <limits>

#include "filters/output_matrix.h"
#include "imagedehaze/pipeline.h"
#include "reference_grid.h"
#include "work_matrix_copies.h"

namespace vantorel {

void JointBilateralReferenceCPU(const cv::Mat& source, const cv::Mat& guide, cv::Mat& output,
                                double sigma_s, double sigma_r) {
  const int rows = source.rows;
  const int cols = source.cols;
  WorkMatrix values(cols, rows, 0.0);
  WorkMatrix edges(cols, rows, 0.0);
  WorkMatrix result(cols, rows, 0.0);
  LoadChannel(source, 0, 1, values);
  LoadChannel(guide, 0, guide.channels(), edges);
  BilateralGridReferenceCPU(values, edges, sigma_s, sigma_r, result);
  PrepareOutput(output, rows, cols, CV_32FC1);
  StoreChannel(result, output, 0, 1);
}

void BilateralChannelReferenceCPU(const cv::Mat& source, int k, cv::Mat& plane, double sigma_s,
                                  double sigma_r) {
  const int rows = source.rows;
  const int cols = source.cols;
  WorkMatrix values(cols, rows, 0.0);
  WorkMatrix result(cols, rows, 0.0);
  LoadChannel(source, k, 3, values);
  BilateralGridReferenceCPU(values, values, sigma_s, sigma_r, result);
  PrepareOutput(plane, rows, cols, CV_32FC1);
  StoreChannel(result, plane, 0, 1);
}

void BilateralChannelInBandsReferenceCPU(const cv::Mat& source, int k, double sigma_s, double sigma_r,
                                         const SmoothedRows& consume) {
  cv::Mat plane;
  BilateralChannelReferenceCPU(source, k, plane, sigma_s, sigma_r);
  consume(0, source.rows, plane.ptr<float>());
}

namespace {

// Each channel divided by the sample type's largest value (255 or 65535) in double, through
// the reference core, and back as v * largest + 0.5 truncated.
template <typename Sample>
void BilateralLevelsReferenceCPU(const cv::Mat& source, cv::Mat& destination, double sigma_s,
                                 double sigma_r) {
  const double largest = std::numeric_limits<Sample>::max();
  const int rows = source.rows;
  const int cols = source.cols;
  WorkMatrix values[3] = {{cols, rows, 0.0}, {cols, rows, 0.0}, {cols, rows, 0.0}};
  WorkMatrix results[3] = {{cols, rows, 0.0}, {cols, rows, 0.0}, {cols, rows, 0.0}};
  for (int y = 0; y < rows; ++y) {
    const Sample* row = source.ptr<Sample>(y);
    for (int x = 0; x < cols; ++x) {
      for (int k = 0; k < 3; ++k) values[k](x, y) = static_cast<double>(row[x * 3 + k]) / largest;
    }
  }
  for (int k = 0; k < 3; ++k) {
    BilateralGridReferenceCPU(values[k], values[k], sigma_s, sigma_r, results[k]);
  }
  PrepareOutput(destination, rows, cols, CV_MAKETYPE(cv::DataType<Sample>::depth, 3));
  for (int y = 0; y < rows; ++y) {
    Sample* row = destination.ptr<Sample>(y);
    for (int x = 0; x < cols; ++x) {
      for (int k = 0; k < 3; ++k) {
        row[x * 3 + k] = static_cast<Sample>(static_cast<int>(results[k](x, y) * largest + 0.5));
      }
    }
  }
}

}  // namespace

void Bilateral8UC3ReferenceCPU(const cv::Mat& source, cv::Mat& destination, double sigma_s,
                               double sigma_r) {
  BilateralLevelsReferenceCPU<uchar>(source, destination, sigma_s, sigma_r);
}

void Bilateral16UC3ReferenceCPU(const cv::Mat& source, cv::Mat& destination, double sigma_s,
                                double sigma_r) {
  BilateralLevelsReferenceCPU<unsigned short>(source, destination, sigma_s, sigma_r);
}

const EdgeFilters& ReferenceEdgeFilters() {
  static const EdgeFilters filters{JointBilateralReferenceCPU, BilateralChannelInBandsReferenceCPU,
                                   Bilateral8UC3ReferenceCPU, Bilateral16UC3ReferenceCPU};
  return filters;
}

bool ReferenceDehazeCPU(unsigned char* data, int cols, int rows, float haze_thickness) {
  return RunPipeline(data, cols, rows, haze_thickness, DehazeOptions{}, ReferenceEdgeFilters());
}

bool ReferenceDehazeCPU(unsigned short* data, int cols, int rows, float haze_thickness) {
  return RunPipeline(data, cols, rows, haze_thickness, DehazeOptions{}, ReferenceEdgeFilters());
}

}  // namespace vantorel
