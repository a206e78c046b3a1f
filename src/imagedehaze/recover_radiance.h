// Radiance recovery in YCrCb, blending of low-transmission regions, and tone adjustment.
#pragma once

#include <opencv2/core.hpp>

namespace vantorel {

// Restores the scene radiance.
//   ycrcb         CV_32FC3 normalised picture in Y, Cr, Cb; only read.
//   y_plane       CV_32FC1 copy of its Y channel; only read.
//   airlight      the airlight in B, G, R order.
//   transmission  CV_32FC1 refined transmission, non-negative; only read.
// Returns `dehazed`, CV_32FC3 in B, G, R, clamped to [0, 1] and tone-adjusted.
cv::Mat RecoverRadianceCPU(const cv::Mat& ycrcb, const cv::Mat& y_plane, const cv::Vec3f& airlight,
                           const cv::Mat& transmission);

}  // namespace vantorel
