// Radiance recovery and blending: restore in YCrCb, blend the low-transmission regions
// toward smoothed values, back to BGR, clamp, tone-adjust.
#include "imagedehaze/recover_radiance.h"

#include <utility>

#include <opencv2/imgproc.hpp>

#include "filters/parallel_for.h"
#include "filters/schedule.h"
#include "imagedehaze/auto_adjust.h"
#include "imagedehaze/natural_look.h"
#include "imagedehaze/recovery_loops.h"

namespace vantorel {

namespace {

// Spatial and range scales of the two smoothings of this stage.
constexpr double kSmoothSigmaS = 35.0;
constexpr double kLumaSigmaR = 0.1;    // the double 0.1, not a widened float
constexpr double kChromaSigmaR = 0.2;

// `image` itself when this is its only reference and it is continuous, else a copy.
cv::Mat OwnedContinuous(cv::Mat image) {
  if (image.u != nullptr && image.u->refcount == 1 && image.isContinuous()) return image;
  return image.clone();
}

// The loops and the smoothing size of a look: the natural look has its own loops and a
// size that follows the picture.
struct RecoverySteps {
  double sigma_s;
  decltype(&RecoverPixels) recover;
  decltype(&BlendChannel) blend;
};

RecoverySteps RecoveryStepsOf(const ToneLook& look, const cv::Mat& picture) {
  if (look.natural) {
    return {NaturalSmoothingSigma(picture.rows, picture.cols), RecoverPixelsNatural, BlendChannelNatural};
  }
  return {kSmoothSigmaS, RecoverPixels, BlendChannel};
}

}  // namespace

cv::Mat RecoverRadianceCPU(cv::Mat ycrcb, const cv::Vec3f& airlight,
                           cv::Mat transmission, const EdgeFilters& filters,
                           const ToneLook& tone_look, FrameEstimates* estimates) {
  // The picture is restored in place: in the picture handed over as the last reference,
  // else in a copy, so that a caller's picture is never changed.
  WorkingImages work(false);
  work.picture = OwnedContinuous(std::move(ycrcb));
  work.transmission = std::move(transmission);
  RecoverRadiance(work, airlight, filters, tone_look, estimates);
  return work.picture;
}

void RecoverRadiance(WorkingImages& work, const cv::Vec3f& airlight, const EdgeFilters& filters,
                     const ToneLook& tone_look, FrameEstimates* estimates) {
  const cv::Vec3f airlight_ycrcb = AirlightToYCrCb(airlight);
  cv::Mat& dehazed = work.picture;
  const cv::Mat& transmission = work.transmission;
  CV_Assert(dehazed.type() == CV_32FC3 && dehazed.isContinuous());
  const RecoverySteps steps = RecoveryStepsOf(tone_look, dehazed);
  // Each smoothing hands its result over band by band, and each band is used at once:
  // the luma's to restore and blend the pixels of its rows, then each chroma channel's,
  // smoothed from the restored chroma, to blend that channel. No plane of smoothed values
  // is ever whole.
  filters.channel(dehazed, 0, steps.sigma_s, kLumaSigmaR, [&](int first, int end, const float* smoothed) {
    steps.recover(transmission, airlight_ycrcb, smoothed, dehazed, first, end);
  });
  // A chroma channel's smoothing reads that channel only (its own edges), and its blend
  // writes that channel only: the two chroma channels are independent, and are smoothed
  // and blended side by side, each on its share of the threads. A pixel's Cr and Cb share
  // a cache line, so the second channel is blended from the bottom up: the two meet in one
  // band rather than take the same lines from each other's core all the way down.
  ParallelTasksSharingThreads(2, [&](int task) {
    const int k = 1 + task;
    const ScopedBottomUpBands bottom_up(task == 1);
    filters.channel(dehazed, k, steps.sigma_s, kChromaSigmaR, [&](int first, int end, const float* smoothed) {
      steps.blend(transmission, k, smoothed, dehazed, first, end);
    });
  });
  work.Done(work.transmission);

  // Back to BGR and clamped, band by band: the conversion treats every row on its own and
  // each bound every sample on its own, so bands give the same values as the whole
  // picture, while each band stays in cache between the three steps. The conversion goes
  // to a band of its own (in place it would copy the band first), and the lower bound
  // writes it back.
  ParallelForRowBands(dehazed.rows, RowsPerTask(dehazed.cols), [&](int first, int end) {
    cv::Mat band = dehazed.rowRange(first, end);
    cv::Mat bgr;
    cv::cvtColor(band, bgr, cv::COLOR_YCrCb2BGR, 0);
    cv::max(bgr, 0.0, band);
    band = cv::min(1.0, band);
    CV_Assert(band.data == dehazed.ptr(first));  // written in place
  });
  AutoAdjustCPU(dehazed, tone_look, estimates, &work.tone_logs);
}

}  // namespace vantorel
