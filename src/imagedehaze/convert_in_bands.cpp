#include "imagedehaze/convert_in_bands.h"

#include "filters/parallel_for.h"

namespace vantorel {

void ConvertInBands(const cv::Mat& source, cv::Mat& target, int type, double alpha) {
  if (!source.isContinuous() || source.dims != 2) return source.convertTo(target, type, alpha, 0.0);
  const int converted_type = CV_MAKETYPE(CV_MAT_DEPTH(type), source.channels());
  // A target of the right size and type is written where it lies (the caller's buffer, say);
  // one that shares the source's memory is not, as its rows would be read after written.
  const bool reuse = target.data != source.data && target.size() == source.size() &&
                     target.type() == converted_type && target.isContinuous();
  cv::Mat converted = reuse ? target : cv::Mat(source.rows, source.cols, converted_type);
  ParallelForRowBands(source.rows, RowsPerTask(source.cols), [&](int first, int end) {
    cv::Mat target_band = converted.rowRange(first, end);
    source.rowRange(first, end).convertTo(target_band, type, alpha, 0.0);
    CV_Assert(target_band.data == converted.ptr(first));  // written in place
  });
  target = converted;
}

}  // namespace vantorel
