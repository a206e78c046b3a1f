// Joint bilateral filter: a float image smoothed along the edges of a guide.
#include "filters/bilateral_filters.h"
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

  // The core reads the inputs until its last task ends, so an output that is one of them
  // is filled from a separate plane afterwards.
  if (SharesMemory(output, source) || SharesMemory(output, guide)) {
    cv::Mat plane(rows, cols, CV_32FC1);
    StreamBilateralGrid(input, FloatChannelSink(plane, 1, 0), cols, rows, sigma_s, sigma_r);
    PrepareOutput(output, rows, cols, CV_32FC1);
    plane.copyTo(output);
    return;
  }
  PrepareOutput(output, rows, cols, CV_32FC1);
  StreamBilateralGrid(input, FloatChannelSink(output, 1, 0), cols, rows, sigma_s, sigma_r);
}

}  // namespace vantorel
