// Atmospheric light: the colour a point at infinite distance takes on through the haze.
#pragma once

#include <opencv2/core.hpp>

namespace vantorel {

// Estimates the airlight of a normalised picture.
//   img  CV_32FC3, B, G, R, continuous, values in [0, 1]; only read.
// Returns the airlight in B, G, R order, on the picture's scale.
cv::Vec3f EstimateAirlightCPU(const cv::Mat& img);

}  // namespace vantorel
