// One channel of a three-channel float image smoothed by its own edges.
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
  BilateralChannelInBandsCPU(source, k, sigma_s, sigma_r, [&](int first, int end, const float* smoothed) {
    StoreRows(plane, first, end, smoothed);
  });
}

}  // namespace vantorel
