// Radiance recovery and blending: restore in YCrCb, blend the low-transmission regions
// toward smoothed values, back to BGR, clamp, tone-adjust.
#include "imagedehaze/recover_radiance.h"

#include <opencv2/imgproc.hpp>

#include "imagedehaze/auto_adjust.h"
#include "imagedehaze/recovery_loops.h"

namespace vantorel {

namespace {

// Spatial and range scales of the two smoothings of this stage.
constexpr double kSmoothSigmaS = 35.0;
constexpr double kLumaSigmaR = 0.1;    // the double 0.1, not a widened float
constexpr double kChromaSigmaR = 0.2;

}  // namespace

cv::Mat RecoverRadianceCPU(cv::Mat ycrcb, cv::Mat y_plane, const cv::Vec3f& airlight,
                           cv::Mat transmission, const EdgeFilters& filters,
                           const ToneLook& tone_look) {
  cv::Mat dehazed;
  dehazed.create(ycrcb.rows, ycrcb.cols, CV_32FC3);
  const cv::Vec3f airlight_ycrcb = AirlightToYCrCb(airlight);

  cv::Mat smoothed_y;
  filters.joint(y_plane, y_plane, smoothed_y, kSmoothSigmaS, kLumaSigmaR);
  y_plane.release();
  ycrcb.copyTo(dehazed);
  ycrcb.release();
  RecoverPixels(transmission, airlight_ycrcb, smoothed_y, dehazed);

  {
    cv::Mat dehazed_smoothed;
    filters.three_channel(dehazed, dehazed_smoothed, kSmoothSigmaS, kChromaSigmaR);
    BlendPixels(transmission, smoothed_y, dehazed_smoothed, dehazed);
  }
  smoothed_y.release();
  transmission.release();

  cv::cvtColor(dehazed, dehazed, cv::COLOR_YCrCb2BGR, 0);
  // Each bound is applied to every sample on its own, so doing it in place gives the
  // same values as through a temporary, without the temporary.
  dehazed = cv::max(0.0, dehazed);
  dehazed = cv::min(1.0, dehazed);
  AutoAdjustCPU(dehazed, tone_look);
  return dehazed;
}

}  // namespace vantorel
