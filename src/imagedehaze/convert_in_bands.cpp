#include "imagedehaze/convert_in_bands.h"

#include "filters/image_channels.h"
#include "filters/parallel_for.h"

namespace vantorel {

void ConvertInBands(const cv::Mat& source, cv::Mat& target, int type, double alpha) {
  if (!source.isContinuous() || source.dims != 2) return source.convertTo(target, type, alpha, 0.0);
  // Into the target's own buffer when it has the size and type already, as convertTo
  // does; a fresh one when the target overlaps the source, which is still being read.
  cv::Mat converted = SharesMemory(target, source) ? cv::Mat() : target;
  converted.create(source.rows, source.cols, CV_MAKETYPE(CV_MAT_DEPTH(type), source.channels()));
  ParallelForRowBands(source.rows, RowsPerTask(source.cols), [&](int first, int end) {
    cv::Mat target_band = converted.rowRange(first, end);
    source.rowRange(first, end).convertTo(target_band, type, alpha, 0.0);
    CV_Assert(target_band.data == converted.ptr(first));  // written in place
  });
  target = converted;
}

}  // namespace vantorel
