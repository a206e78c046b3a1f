// Eight-bit three-channel bilateral filter: each channel smoothed by its own edges on the
// 0-to-1 scale, then rounded back to bytes (halves up).
#include "filters/bilateral_filters.h"
#include "filters/channel_by_channel.h"
#include "filters/image_channels.h"

namespace vantorel {

void Bilateral8UC3CPU(const cv::Mat& source, cv::Mat& destination, double sigma_s, double sigma_r) {
  CV_Assert(source.type() == CV_8UC3 && !source.empty());
  FilterChannelByChannel<ByteChannel, ByteChannelSink>(source, destination, CV_8UC3, CV_8UC1,
                                                       sigma_s, sigma_r);
}

}  // namespace vantorel
