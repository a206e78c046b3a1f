// Normalisation of the source (8 or 16 bits) by its largest sample.
#include "imagedehaze/normalize.h"

#include <algorithm>
#include <mutex>
#include <numeric>

#include "filters/parallel_for.h"
#include "imagedehaze/convert_in_bands.h"

namespace vantorel {

namespace {

// The one scale of every form of the normalisation. The library applies the double scale
// 1.0 / max itself (in single precision for float targets); a hand-made division would
// differ in the last place.
double NormalizationScale(double largest_sample) { return 1.0 / largest_sample; }

}  // namespace

// The largest sample is the same whatever order it is looked for in: bands of rows on the
// threads, where one thread alone would keep the others waiting at the start of every picture.
double LargestSample(const cv::Mat& source_view) {
  double largest = 0.0;
  std::mutex lock;
  ParallelForRowBands(source_view.rows, RowsPerTask(source_view.cols), [&](int first, int end) {
    double band_largest = 0.0;
    // Multi-channel input is allowed here because no location and no mask is asked for.
    cv::minMaxLoc(source_view.rowRange(first, end), nullptr, &band_largest);
    const std::lock_guard<std::mutex> hold(lock);
    largest = std::max(largest, band_largest);
  });
  return largest;
}

cv::Mat NormalizeByLargestSample(const cv::Mat& source_view, double largest_sample) {
  cv::Mat normalized;
  NormalizeByLargestSample(source_view, largest_sample, normalized);
  return normalized;
}

void NormalizeByLargestSample(const cv::Mat& source_view, double largest_sample, cv::Mat& normalized) {
  ConvertInBands(source_view, normalized, CV_32FC3, NormalizationScale(largest_sample));
}

void NormalizeRows(const cv::Mat& source_rows, double largest_sample, cv::Mat& normalized) {
  source_rows.convertTo(normalized, CV_32F, NormalizationScale(largest_sample), 0.0);
}

cv::Mat NormalizedLevels(int depth, double largest_sample) {
  CV_Assert(depth == CV_8U || depth == CV_16U);
  const int count = depth == CV_8U ? 256 : 65536;
  cv::Mat levels(1, count, CV_32SC1);
  std::iota(levels.ptr<int>(0), levels.ptr<int>(0) + count, 0);
  levels.convertTo(levels, depth);  // every level exactly
  cv::Mat values;
  levels.convertTo(values, CV_32F, NormalizationScale(largest_sample), 0.0);
  return values;
}

}  // namespace vantorel
