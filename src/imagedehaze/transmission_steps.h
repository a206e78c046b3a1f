// The steps of the transmission estimate that come before and after the edge-aware smoothing.
#pragma once

#include <opencv2/core.hpp>

namespace vantorel {

// Range parameter of the smoothing: the single-precision 0.1 widened to double.
constexpr double kTransmissionSigmaR = static_cast<double>(0.1f);

// Exponent of the power step: 0.9 x haze thickness, in double, rounded to float.
float TransmissionExponent(float haze_thickness);

// Per-pixel smallest ratio of a channel to its airlight component, capped at 1.
//   normalized  CV_32FC3, B, G, R, continuous; only read.
//   airlight    B, G, R components.
// Returns a CV_32FC1 map of the same size with values in [0, 1].
cv::Mat DarkChannel(const cv::Mat& normalized, const cv::Vec3f& airlight);
// The same into `dark_channel`, which keeps its buffer when it has the size and type
// already (it must not be the picture).
void DarkChannel(const cv::Mat& normalized, const cv::Vec3f& airlight, cv::Mat& dark_channel);
// The same, bit for bit, of the picture that `source_view` normalises to, read from the
// source itself: what the normalisation makes of each sample is looked up.
//   source_view  CV_8UC3 or CV_16UC3, B, G, R, continuous; only read.
//   levels       NormalizedLevels of the source's depth and of the divisor used.
void DarkChannelFromSource(const cv::Mat& source_view, const cv::Mat& levels, const cv::Vec3f& airlight,
                           cv::Mat& dark_channel);

// max(0.05, 1 - 0.95 x dark channel).
//   dark_channel  CV_32FC1, values in [0, 1]; only read.
// Returns a new CV_32FC1 map with values in [0.05, 1].
cv::Mat RawTransmission(const cv::Mat& dark_channel);

// The same in place.
void ToRawTransmission(cv::Mat& dark_channel);

// Mean of each row.
//   image  CV_32FC1; only read.
// Returns a rows x 1 CV_32FC1 column.
cv::Mat RowMeans(const cv::Mat& image);

// The same into a rows x 1 CV_32FC1 column that exists already.
void RowMeansInto(const cv::Mat& image, cv::Mat& row_mean);

// RawTransmission in place of the dark channel, which it takes over and returns, and the
// RowMeans of the result, in parallel bands of rows: one pass over the map.
cv::Mat RawTransmissionAndRowMeans(cv::Mat dark_channel, cv::Mat& row_mean);

// Running profile of the row means that follows rises in full and falls to three quarters.
//   row_mean  rows x 1 CV_32FC1, top row first; only read.
// Returns a rows x 1 CV_32FC1 column, never below the row mean of the same row.
cv::Mat DampedRowProfile(const cv::Mat& row_mean);

// The profile capped at 1.
//   row_profile  rows x 1 CV_32FC1; only read.
// Returns a new rows x 1 CV_32FC1 column.
cv::Mat CapRowProfile(const cv::Mat& row_profile);

// Moves every pixel below its row's profile value halfway up to it, in place.
//   raw_transmission  CV_32FC1, continuous; updated.
//   clamped_profile   rows x 1 CV_32FC1, one value per row of raw_transmission.
void LiftTowardRowProfile(cv::Mat& raw_transmission, const cv::Mat& clamped_profile);

// Spatial parameter of the smoothing: one sixteenth of the geometric mean of the sizes,
// at most 35, computed in single precision and widened.
double TransmissionSigmaS(int rows, int cols);

// Raises every value to `exponent`, in place.
//   transmission  CV_32FC1, values in [0, 1]; updated.
void RaiseTransmission(cv::Mat& transmission, float exponent);

}  // namespace vantorel
