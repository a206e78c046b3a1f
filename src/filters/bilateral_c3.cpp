// Three-channel float bilateral filter: each channel smoothed by its own edges.
#include "filters/bilateral_filters.h"
#include "filters/channel_by_channel.h"
#include "filters/image_channels.h"

namespace vantorel {

void BilateralC3CPU(const cv::Mat& source, cv::Mat& output, double sigma_s, double sigma_r) {
  CV_Assert(source.type() == CV_32FC3 && !source.empty());
  FilterChannelByChannel<FloatChannel, FloatChannelSink>(source, output, CV_32FC3, CV_32FC1,
                                                         sigma_s, sigma_r);
}

}  // namespace vantorel
