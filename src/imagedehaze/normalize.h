// Scaling of the input (8 or 16 bits) so that its brightest sample becomes 1.0.
#pragma once

#include <opencv2/core.hpp>

namespace vantorel {

// Returns the CV_8UC3 or CV_16UC3 source as CV_32FC3, every sample divided by the largest sample of
// the whole picture (all channels). A picture whose largest sample is 0 has no scale;
// the caller handles it before calling (the result would be all NaN).
cv::Mat NormalizeByLargestSample(const cv::Mat& source_view, double largest_sample);
// The same into `normalized`, which keeps its buffer when it has the size and type already.
void NormalizeByLargestSample(const cv::Mat& source_view, double largest_sample, cv::Mat& normalized);

// The largest sample over all pixels and channels of a CV_8UC3 or CV_16UC3 picture.
double LargestSample(const cv::Mat& source_view);

}  // namespace vantorel
