// The chroma filter: channels 1 and 2 of a three-channel float image, each smoothed by its
// own edges. Channel 0 is not filtered: the recovery reads only the smoothed chroma.
#include "filters/bilateral_filters.h"
#include "filters/grid_stream.h"
#include "filters/image_channels.h"
#include "filters/output_matrix.h"

namespace vantorel {

void BilateralChromaCPU(const cv::Mat& source, cv::Mat& output, double sigma_s, double sigma_r) {
  CV_Assert(source.type() == CV_32FC3 && !source.empty() && !SharesMemory(output, source));
  const int rows = source.rows;
  const int cols = source.cols;
  PrepareOutput(output, rows, cols, CV_32FC2);
  for (int k = 1; k < 3; ++k) {
    const FloatChannel channel(source, 3, k);
    StreamBilateralGrid(ChannelSource<FloatChannel>{channel, channel, cols, rows},
                        FloatChannelSink(output, 2, k - 1), cols, rows, sigma_s, sigma_r);
  }
}

}  // namespace vantorel
