// The per-pixel loops of the radiance recovery, in YCrCb.
#pragma once

#include <opencv2/core.hpp>

namespace vantorel {

// The airlight converted with the same colour conversion as the picture itself.
cv::Vec3f AirlightToYCrCb(const cv::Vec3f& airlight_bgr);

// Restores luma and chroma against the airlight, in place, and blends the luma as
// BlendChannels does toward S', the smoothed luma restored the same way.
//   transmission    CV_32FC1 t per pixel; only read.
//   airlight_ycrcb  Y_A, Cr_A, Cb_A.
//   smoothed_y      CV_32FC1 smoothed input luma; only read.
//   dehazed         CV_32FC3 Y, Cr, Cb, restored in place; every written value in [0, 1].
void RecoverPixels(const cv::Mat& transmission, const cv::Vec3f& airlight_ycrcb,
                   const cv::Mat& smoothed_y, cv::Mat& dehazed);

// Pulls low-transmission pixels toward smoothed values, fully at t = 0, not at all from
// t = 2/3: luma (channel 0) toward S', chroma (channels 1, 2) toward that channel
// smoothed. The channels are independent: blending one changes no other, so they may be
// blended in separate calls.
//   smoothed  for each channel k, a CV_32FC1 continuous plane of its smoothed values, or
//             null to leave channel k as it is.
void BlendChannels(const cv::Mat& transmission, const cv::Mat* const (&smoothed)[3], cv::Mat& dehazed);

}  // namespace vantorel
