// Normalisation of the source (8 or 16 bits) by its largest sample.
#include "imagedehaze/normalize.h"

#include "imagedehaze/convert_in_bands.h"

namespace vantorel {

double LargestSample(const cv::Mat& source_view) {
  double largest = 0.0;
  // Multi-channel input is allowed here because no location and no mask is asked for.
  cv::minMaxLoc(source_view, nullptr, &largest);
  return largest;
}

cv::Mat NormalizeByLargestSample(const cv::Mat& source_view, double largest_sample) {
  cv::Mat normalized;
  NormalizeByLargestSample(source_view, largest_sample, normalized);
  return normalized;
}

void NormalizeByLargestSample(const cv::Mat& source_view, double largest_sample, cv::Mat& normalized) {
  // The library applies the double scale 1.0 / max itself (in single precision for
  // float targets); a hand-made division would differ in the last place.
  ConvertInBands(source_view, normalized, CV_32FC3, 1.0 / largest_sample);
}

}  // namespace vantorel
