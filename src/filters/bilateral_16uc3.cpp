// Sixteen-bit three-channel bilateral filter: the byte filter's arithmetic on samples over
// 65535, rounded back to 16 bits (halves up).
#include "filters/bilateral_filters.h"
#include "filters/channel_by_channel.h"
#include "filters/image_channels.h"

namespace vantorel {

void Bilateral16UC3CPU(const cv::Mat& source, cv::Mat& destination, double sigma_s, double sigma_r) {
  CV_Assert(source.type() == CV_16UC3 && !source.empty());
  FilterChannelByChannel<WordChannel, WordChannelSink>(source, destination, CV_16UC3, CV_16UC1,
                                                       sigma_s, sigma_r);
}

}  // namespace vantorel
