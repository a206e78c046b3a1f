// Joint bilateral filter: a float image smoothed along the edges of a guide.
#include "filters/bilateral_filters.h"
#include "filters/grid_in_bands.h"
#include "filters/grid_stream.h"
#include "filters/image_channels.h"
#include "filters/output_matrix.h"

namespace vantorel {

void JointBilateralCPU(const cv::Mat& source, const cv::Mat& guide, cv::Mat& output,
                       double sigma_s, double sigma_r) {
  CV_Assert(source.type() == CV_32FC1 && (guide.type() == CV_32FC1 || guide.type() == CV_32FC3) &&
            !source.empty());
  CV_Assert(guide.rows == source.rows && guide.cols == source.cols);
  const int rows = source.rows;
  const int cols = source.cols;
  const ChannelSource<FloatChannel> input{FloatChannel(source, 1, 0), FloatChannel(guide, guide.channels(), 0), cols, rows};

  if (!SharesMemory(output, source) && !SharesMemory(output, guide)) {
    PrepareOutput(output, rows, cols, CV_32FC1);
    StreamBilateralGrid(input, FloatChannelSink(output, 1, 0), cols, rows, sigma_s, sigma_r);
    return;
  }
  // An output that is an input is written band by band once nothing else reads that band:
  // where it lies when it is that input itself and can take the result as it is, else
  // into a new plane.
  const auto is = [&](const cv::Mat& input) {
    return output.data == input.data && output.step[0] == input.step[0] && output.type() == input.type();
  };
  const bool fits = (is(source) || is(guide)) && output.type() == CV_32FC1 && output.rows == rows && output.cols == cols;
  cv::Mat result = fits ? output : cv::Mat(rows, cols, CV_32FC1);
  BilateralGridInBands(input, cols, rows, sigma_s, sigma_r, [&](int first, int end, const float* values) {
    StoreRows(result, first, end, values);
  });
  output = result;
}

}  // namespace vantorel
