// One channel of a three-channel float image smoothed by its own edges, into a plane.
#include "filters/bilateral_filters.h"
#include "filters/grid_stream.h"
#include "filters/image_channels.h"
#include "filters/output_matrix.h"

namespace vantorel {

void BilateralChannelCPU(const cv::Mat& source, int k, cv::Mat& plane, double sigma_s,
                         double sigma_r) {
  CV_Assert(source.type() == CV_32FC3 && !source.empty() && k >= 0 && k < 3);
  CV_Assert(!SharesMemory(plane, source));
  const int rows = source.rows;
  const int cols = source.cols;
  PrepareOutput(plane, rows, cols, CV_32FC1);
  const FloatChannel channel(source, 3, k);
  StreamBilateralGrid(ChannelSource<FloatChannel>{channel, channel, cols, rows},
                      FloatChannelSink(plane, 1, 0), cols, rows, sigma_s, sigma_r);
}

}  // namespace vantorel
