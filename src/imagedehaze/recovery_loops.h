// The per-pixel loops of the radiance recovery, in YCrCb.
#pragma once

#include <opencv2/core.hpp>

namespace vantorel {

// The airlight converted with the same colour conversion as the picture itself.
cv::Vec3f AirlightToYCrCb(const cv::Vec3f& airlight_bgr);

// Both work on the rows [first, end) of continuous images, and are given the smoothed
// values of those rows only, (end - first) x cols floats, row after row.

// Restores luma and chroma against the airlight, in place, and blends the luma as
// BlendChannel does toward S', the smoothed luma restored the same way.
//   transmission    CV_32FC1 t per pixel; only read.
//   airlight_ycrcb  Y_A, Cr_A, Cb_A.
//   smoothed_y      smoothed input luma; only read.
//   dehazed         CV_32FC3 Y, Cr, Cb, restored in place; every written value in [0, 1].
void RecoverPixels(const cv::Mat& transmission, const cv::Vec3f& airlight_ycrcb,
                   const float* smoothed_y, cv::Mat& dehazed, int first, int end);

// Pulls the low-transmission pixels of channel k toward its smoothed values, fully at
// t = 0, not at all from t = 2/3. Blending one channel changes no other.
void BlendChannel(const cv::Mat& transmission, int k, const float* smoothed, cv::Mat& dehazed,
                  int first, int end);

// The natural look's forms of the two loops. RecoverPixelsNatural is RecoverPixels except
// that a luma above the airlight's, the pixel's or the smoothed one, is kept as it is (it
// is not haze), and both read the transmission as t / 0.5 for the blend, so that only the
// pixels below t = 1/3 are pulled toward their smoothed values.
void RecoverPixelsNatural(const cv::Mat& transmission, const cv::Vec3f& airlight_ycrcb,
                          const float* smoothed_y, cv::Mat& dehazed, int first, int end);
void BlendChannelNatural(const cv::Mat& transmission, int k, const float* smoothed,
                         cv::Mat& dehazed, int first, int end);

}  // namespace vantorel
