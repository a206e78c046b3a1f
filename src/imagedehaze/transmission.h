// Transmission: the fraction of scene light that reaches the camera through the haze.
#pragma once

#include <opencv2/core.hpp>

#include "imagedehaze/edge_filters.h"
#include "imagedehaze/frame_estimates.h"

namespace vantorel {

// Estimates the refined transmission map.
//   normalized             CV_32FC3, B, G, R, continuous, brightest sample 1.0; only read.
//   airlight               the airlight in B, G, R order.
//   luma                   the guide of the smoothing: a CV_32FC1 luma plane, or the picture
//                          in CV_32FC3 Y, Cr, Cb, whose Y channel guides; only read.
//   transmission_exponent  0.9 x haze thickness, in (0, 0.9].
//   filters                the edge-preserving filters to run.
// Returns a CV_32FC1 map of the picture's size with values in [0, 1].
cv::Mat EstimateTransmissionCPU(const cv::Mat& normalized, const cv::Vec3f& airlight,
                                const cv::Mat& luma, float transmission_exponent,
                                const EdgeFilters& filters = LibraryEdgeFilters());

// The same from the picture's dark channel (DarkChannel of the normalised picture and the
// airlight), which it takes over, so that the caller need not keep the picture. The map
// is made in the dark channel's plane. `estimates`, when not null, sees the row profile
// and may replace it.
cv::Mat EstimateTransmissionFromDarkChannel(cv::Mat dark_channel, const cv::Mat& luma,
                                            float transmission_exponent, const EdgeFilters& filters,
                                            FrameEstimates* estimates = nullptr);

}  // namespace vantorel
