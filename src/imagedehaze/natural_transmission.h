// The natural look's transmission: the dark channel's minimum over a square, a floor that
// keeps flat regions from being pushed far, then the classic row-profile lift, smoothing
// and power step with the natural look's sizes and exponent.
#pragma once

#include <opencv2/core.hpp>

#include "imagedehaze/edge_filters.h"
#include "imagedehaze/working_images.h"

namespace vantorel {

// Estimates the natural look's transmission map from the per-pixel dark channel
// (DarkChannel), which it takes over: the map is made in its plane.
//   dark_channel           CV_32FC1, continuous, values in [0, 1].
//   ycrcb                  the normalised picture in CV_32FC3 Y, Cr, Cb, of the same size,
//                          continuous; its Y guides the smoothing and measures flatness.
//   airlight_y             the airlight's Y (AirlightToYCrCb).
//   transmission_exponent  NaturalTransmissionExponent of the thickness.
//   filters                the edge-preserving filters to run.
// Returns a CV_32FC1 map of the picture's size.
cv::Mat EstimateNaturalTransmission(cv::Mat dark_channel, const cv::Mat& ycrcb, float airlight_y,
                                    float transmission_exponent, const EdgeFilters& filters);

// The same in the working images: work.transmission holds the dark channel and becomes the
// map, work.picture is the picture in YCrCb (only read), and the flatness weight is made in
// work.flatness and work.squares.
void EstimateNaturalTransmission(WorkingImages& work, float airlight_y, float transmission_exponent,
                                 const EdgeFilters& filters);

// The steps, for the tests.

// Minimum of each value over the size x size square around it, borders replicated; in place.
void ErodeDarkChannel(cv::Mat& dark_channel, int size);

// How flat the luma is around each pixel, spread over the flatness window: 1 where the
// local spread of Y (over the texture window) is at most 0.003, 0 from 0.008 on.
//   ycrcb  CV_32FC3 Y, Cr, Cb, continuous; only read.
// Returns a CV_32FC1 plane of the picture's size with values in [0, 1].
cv::Mat FlatnessWeight(const cv::Mat& ycrcb, int texture_window, int flatness_window);
// The same into `weight`, through `squares` (the luma, then the means of its squares); both
// keep their buffers when they have the size and type already.
void FlatnessWeight(const cv::Mat& ycrcb, int texture_window, int flatness_window, cv::Mat& weight,
                    cv::Mat& squares);

// The transmission below which a flat pixel of luma y may not go: 0 at and above the
// airlight's luma, rising to 1 at y = 0, so that the recovered luma keeps at least 0.6 of y.
float FlatFloor(float y, float airlight_y);

// raw = max(raw, flatness x FlatFloor(Y, airlight_y)) over rows [first, end), in place.
void RaiseFlatRegions(cv::Mat& raw_transmission, const cv::Mat& flatness, const cv::Mat& ycrcb,
                      float airlight_y, int first, int end);

}  // namespace vantorel
