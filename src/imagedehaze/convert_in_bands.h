// cv::Mat::convertTo over bands of rows in parallel.
#pragma once

#include <opencv2/core.hpp>

namespace vantorel {

// The same as source.convertTo(target, type, alpha, 0.0) for a continuous source: each
// element is scaled and converted on its own, and every band of whole rows is a long
// continuous run that takes the library's vector path as the whole picture does. A target
// of the right size and type keeps its buffer (unless it overlaps the source).
void ConvertInBands(const cv::Mat& source, cv::Mat& target, int type, double alpha);

}  // namespace vantorel
