// Atmospheric light: the colour a point at infinite distance takes on through the haze.
#pragma once

#include <opencv2/core.hpp>

namespace vantorel {

// Estimates the airlight of a normalised picture.
//   img  CV_32FC3, B, G, R, continuous, values in [0, 1]; only read.
// Returns the airlight in B, G, R order, on the picture's scale.
cv::Vec3f EstimateAirlightCPU(const cv::Mat& img);

// The same estimate, bit for bit, of the picture that `source_view` normalises to, read
// from the source itself: what the normalisation makes of each sample is looked up.
//   source_view  CV_8UC3 or CV_16UC3, B, G, R, continuous; only read.
//   levels       NormalizedLevels of the source's depth and of the divisor used.
cv::Vec3f EstimateAirlightFromSource(const cv::Mat& source_view, const cv::Mat& levels);

}  // namespace vantorel
