// Automatic tone adjustment: a global tone curve driven by the image's own luminance.
#pragma once

#include <opencv2/core.hpp>

#include "imagedehaze/frame_estimates.h"
#include "imagedehaze/tone_curve.h"

namespace vantorel {

// Adjusts brightness and contrast of an image in place.
//   img  CV_8U (0 .. 255) or CV_32F ([0, 1]), 1 or 3 channels (B, G, R); overwritten.
// Returns the exposure scale g, in [1/3, 3]. Any other depth or channel count raises
// cv::Exception -215 and leaves img unchanged. A picture with nothing to stretch (zero
// luminance everywhere, or a white point not above the black point) keeps its values; an
// empty one is left alone and gives 1.
float AutoAdjustCPU(cv::Mat& img);

// The two looks of the adjustment; the default is AutoAdjustCPU's own.
struct ToneLook {
  // False: the curve at full strength, half of the input's chroma put back. True: the final
  // table faded toward the identity by `strength`, and all of the input's chroma kept.
  bool natural = false;
  float strength = 1.0f;  // natural only: the curve's weight against the identity, in [0, 1]
  // The levels the result will be stored in: 256 for bytes (the curve's own table), 65536
  // for 16 bits (the curve evaluated at every 16-bit level, so that it adds no steps).
  int levels = 256;
};

// AutoAdjustCPU in the given look, with the same checks and degenerate-picture handling.
// `estimates`, when not null, sees the tone curve's estimates and may replace them; `logs`,
// when not null, keeps the curve's logarithms (MeasureLuminance).
float AutoAdjustCPU(cv::Mat& img, const ToneLook& look, FrameEstimates* estimates = nullptr,
                    LuminanceLogs* logs = nullptr);

}  // namespace vantorel
