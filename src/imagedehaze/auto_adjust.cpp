// Automatic tone adjustment: the tone curve applied to every channel through its table,
// then half of the input's chroma put back.
#include "imagedehaze/auto_adjust.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

#include "filters/parallel_for.h"
#include "imagedehaze/tone_apply.h"
#include "imagedehaze/tone_curve.h"

namespace vantorel {

namespace {

// Single-precision pixels in [0, 1] with the channel count kept, continuous. A continuous
// float image is used as it is, and toned in place.
cv::Mat FloatPixels(const cv::Mat& img) {
  if (img.depth() == CV_32F) return img.isContinuous() ? img : img.clone();
  cv::Mat copy;
  img.convertTo(copy, CV_32F, 0.00392156862745098, 0.0);
  return copy;
}

// Tones one band of rows in place: the table, then for colour the chroma step (the natural
// look keeps the input's chroma whole). The two conversions go to buffers the caller keeps
// from band to band (reused when the size matches), so that small bands do not each
// allocate and fault in fresh memory.
void ToneBand(const ToneCurve& curve, bool natural, cv::Mat band, cv::Mat& input_ycrcb,
              cv::Mat& toned_ycrcb) {
  if (band.channels() == 3) cv::cvtColor(band, input_ycrcb, cv::COLOR_BGR2YCrCb, 0);
  ApplyToneTable(curve, band);
  if (band.channels() != 3) return;
  cv::cvtColor(band, toned_ycrcb, cv::COLOR_BGR2YCrCb, 0);
  if (natural) {
    TakeInputChroma(input_ycrcb, toned_ycrcb);
  } else {
    MixInputChroma(input_ycrcb, toned_ycrcb);
  }
  cv::cvtColor(toned_ycrcb, band, cv::COLOR_YCrCb2BGR, 0);
}

// The colour conversion treats every row on its own, so bands of whole rows give the same
// values as whole images, without more full-size images; and bands are independent, so
// they run in parallel. Each task tones a run of bands with one pair of buffers.
void ToneInBands(const ToneCurve& curve, bool natural, cv::Mat& pixels) {
  constexpr int kBandsPerTask = 16;
  const int band_rows = ToneBandRows(pixels.cols);
  ParallelForRowBands(pixels.rows, static_cast<size_t>(band_rows) * kBandsPerTask, [&](int first, int end) {
    cv::Mat input_ycrcb, toned_ycrcb;
    for (int row = first; row < end; row += band_rows) {
      ToneBand(curve, natural, pixels.rowRange(row, std::min(row + band_rows, end)), input_ycrcb,
               toned_ycrcb);
    }
  });
}

// In img's own depth; the 8-bit conversion rounds to nearest and saturates.
void WriteBack(const cv::Mat& result, cv::Mat& img) {
  if (img.depth() == CV_8U) {
    result.convertTo(img, CV_8U, 255.0, 0.0);
  } else {
    result.copyTo(img);
  }
}

}  // namespace

float AutoAdjustCPU(cv::Mat& img) { return AutoAdjustCPU(img, ToneLook{}); }

float AutoAdjustCPU(cv::Mat& img, const ToneLook& look, FrameEstimates* estimates, LuminanceLogs* logs) {
  CV_Assert(img.depth()==CV_8U || img.depth()==CV_32F);
  // Other channel counts have no defined luminance (two channels would read past each pixel).
  CV_Assert(img.channels() == 1 || img.channels() == 3);
  // No pixels, no statistics: nothing to adjust, and no exposure change to report.
  if (img.empty()) return 1.0f;

  // A continuous float picture is toned where it lies; others through a float copy.
  cv::Mat pixels = FloatPixels(img);
  // A one-channel picture is its own luminance; a colour one's is taken as it is measured.
  ToneCurve curve = ComputeToneCurve(pixels, estimates, logs);
  if (look.levels > kToneLevels) DeepenToneCurve(look.levels, look.natural, look.strength, curve);
  if (look.natural) FadeTowardIdentity(look.strength, curve);
  if (curve.stretchable) ToneInBands(curve, look.natural, pixels);
  if (pixels.data != img.data) WriteBack(pixels, img);
  return curve.exposure;
}

}  // namespace vantorel
