// The whole-picture estimates of one dehaze, each handed to an observer as soon as it is
// measured, which may replace it before the pipeline goes on. A clip's frames are dehazed
// with estimates smoothed over time this way; the per-pixel work is unchanged. Without an
// observer (a null pointer) the pipeline uses what it measured, as for a single picture.
#pragma once

#include <opencv2/core.hpp>

namespace vantorel {

class FrameEstimates {
 public:
  virtual ~FrameEstimates() = default;

  // The largest sample of the 8-bit picture, which the picture is divided by; called only
  // for a picture that is not all black (measured > 0). Must return a value > 0.
  virtual double Divisor(double measured) = 0;

  // The airlight in B, G, R order, measured on the picture as normalised; every returned
  // component must be positive.
  virtual cv::Vec3f Airlight(const cv::Vec3f& measured) = 0;

  // The transmission's damped row profile (rows x 1 CV_32FC1, before it is capped at 1),
  // replaced in place when wanted.
  virtual void RowProfile(cv::Mat& profile) = 0;

  // The tone curve's log-average luminance, before the exposure is taken from it, and its
  // top level (0 .. 255, the level of the brightest luminance, which the compressed curve
  // is renormalised to), replaced in place when wanted.
  virtual void ToneLevels(float& log_average, int& top) = 0;

  // The tone curve's black and white points (the compressed curve's values the stretch
  // maps to 0 and 1), replaced in place when wanted. Called only for a picture with
  // luminance to stretch.
  virtual void BlackAndWhite(float& black, float& white) = 0;
};

}  // namespace vantorel
