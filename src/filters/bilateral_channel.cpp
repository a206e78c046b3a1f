// One channel of a three-channel float image smoothed by its own edges.
#include <cstring>

#include "filters/bilateral_filters.h"
#include "filters/grid_in_bands.h"
#include "filters/image_channels.h"
#include "filters/output_matrix.h"

namespace vantorel {

void BilateralChannelInBandsCPU(const cv::Mat& source, int k, double sigma_s, double sigma_r,
                                const SmoothedRows& consume) {
  CV_Assert(source.type() == CV_32FC3 && !source.empty() && source.isContinuous() && k >= 0 && k < 3);
  const FloatChannel channel(source, 3, k);
  BilateralGridInBands(ChannelSource<FloatChannel>{channel, channel, source.cols, source.rows}, source.cols,
                       source.rows, sigma_s, sigma_r, consume);
}

void BilateralChannelCPU(const cv::Mat& source, int k, cv::Mat& plane, double sigma_s,
                         double sigma_r) {
  CV_Assert(!SharesMemory(plane, source));
  PrepareOutput(plane, source.rows, source.cols, CV_32FC1);
  const size_t row_bytes = sizeof(float) * static_cast<size_t>(source.cols);
  BilateralChannelInBandsCPU(source, k, sigma_s, sigma_r, [&](int first, int end, const float* smoothed) {
    for (int r = first; r < end; ++r) std::memcpy(plane.ptr<float>(r), smoothed + static_cast<size_t>(r - first) * source.cols, row_bytes);
  });
}

}  // namespace vantorel
