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

// The same for a band of the source's rows, into `normalized` (CV_32FC3, the band's size;
// made anew when it is not): for a caller that works band by band.
void NormalizeRows(const cv::Mat& source_rows, double largest_sample, cv::Mat& normalized);

// What the normalisation makes of every level a sample of `depth` (CV_8U or CV_16U) can
// take: a 1 x 256 or 1 x 65536 CV_32FC1 row whose entry s is, bit for bit, the normalised
// value of a sample s, made by the same conversion. The conversion multiplies by a
// positive scale and rounds, so the row never decreases: the smallest (largest) of
// several samples' values is the value of the smallest (largest) sample.
cv::Mat NormalizedLevels(int depth, double largest_sample);

// The largest sample over all pixels and channels of a CV_8UC3 or CV_16UC3 picture.
double LargestSample(const cv::Mat& source_view);

}  // namespace vantorel
