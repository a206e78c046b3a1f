// The recovery restores in place a picture handed over as its last reference, and in a
// copy otherwise: a caller's picture never changes, and the result is the same either way.
// Its smoothings and blends, however scheduled, give the bytes of the recovery written
// out plainly.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "band_rows.h"
#include "filters/schedule.h"
#include "imagedehaze/natural_look.h"
#include "imagedehaze/recover_radiance.h"
#include "imagedehaze/recovery_loops.h"
#include "reference_filters.h"
#include "test_pictures.h"

namespace vantorel {
namespace {

// The recovery step by step, one whole plane at a time, through the reference filter: the
// luma smoothed, every pixel restored, then chroma channel 1 smoothed from the restored
// picture and blended, then channel 2 the same way; back to BGR, clamped, tone-adjusted.
cv::Mat PlainRecovery(const cv::Mat& ycrcb, const cv::Vec3f& airlight, const cv::Mat& transmission,
                      const ToneLook& look) {
  cv::Mat picture = ycrcb.clone();
  const double sigma_s = look.natural ? NaturalSmoothingSigma(picture.rows, picture.cols) : 35.0;
  const auto recover = look.natural ? RecoverPixelsNatural : RecoverPixels;
  const auto blend = look.natural ? BlendChannelNatural : BlendChannel;
  cv::Mat smoothed;
  BilateralChannelReferenceCPU(picture, 0, smoothed, sigma_s, 0.1);
  recover(transmission, AirlightToYCrCb(airlight), smoothed.ptr<float>(), picture, 0, picture.rows);
  for (int k = 1; k < 3; ++k) {
    BilateralChannelReferenceCPU(picture, k, smoothed, sigma_s, 0.2);
    blend(transmission, k, smoothed.ptr<float>(), picture, 0, picture.rows);
  }
  cv::Mat bgr;
  cv::cvtColor(picture, bgr, cv::COLOR_YCrCb2BGR);
  bgr = cv::min(cv::max(bgr, 0.0), 1.0);
  AutoAdjustCPU(bgr, look);
  return bgr;
}

TEST(RecoverRadiance, SameBytesAsThePlainRecoveryForAnyThreadCountAndBands) {
  // Transmissions across [0, 1): pixels blended fully, partly and not at all, in both looks.
  // The pictures span several grid cells; the last is one row.
  const cv::Vec3f airlight(0.8f, 0.85f, 0.9f);
  const cv::Size sizes[] = {{143, 97}, {211, 300}, {90, 1}};
  for (const cv::Size size : sizes) {
    cv::Mat ycrcb;
    cv::cvtColor(RandomImage(size.height, size.width, CV_32FC3, 40 + size.width), ycrcb, cv::COLOR_BGR2YCrCb);
    const cv::Mat transmission = RandomImage(size.height, size.width, CV_32FC1, 41 + size.width);
    for (const bool natural : {false, true}) {
      ToneLook look;
      look.natural = natural;
      look.strength = 0.7f;
      const cv::Mat expected = PlainRecovery(ycrcb, airlight, transmission, look);
      for (const int band_rows : {0, 1, 7}) {
        SetBandRowsForTesting(band_rows);
        for (const int threads : {1, 2, 3}) {
          const ScopedThreadCount count(threads);
          const std::string name = std::to_string(size.height) + "x" + std::to_string(size.width) +
                                   (natural ? ", natural" : ", classic") + ", " + std::to_string(threads) +
                                   " threads, bands " + std::to_string(band_rows);
          EXPECT_TRUE(SameBytes(RecoverRadianceCPU(ycrcb, airlight, transmission, LibraryEdgeFilters(), look),
                                expected))
              << name;
          // The reference filter through the same schedule.
          EXPECT_TRUE(SameBytes(
              RecoverRadianceCPU(ycrcb, airlight, transmission, ReferenceEdgeFilters(), look), expected))
              << name << ", reference filters";
        }
      }
      SetBandRowsForTesting(0);
    }
  }
}

TEST(RecoverRadiance, SharedPictureUnchangedAndSameResultAsAHandedOverOne) {
  const cv::Mat bgr = RandomImage(37, 53, CV_32FC3, 12);
  cv::Mat ycrcb;
  cv::cvtColor(bgr, ycrcb, cv::COLOR_BGR2YCrCb);
  const cv::Mat transmission = RandomImage(37, 53, CV_32FC1, 13);
  const cv::Vec3f airlight(0.8f, 0.85f, 0.9f);
  const cv::Mat kept = ycrcb.clone();

  const cv::Mat from_shared = RecoverRadianceCPU(ycrcb, airlight, transmission);
  EXPECT_TRUE(SameBytes(ycrcb, kept));
  EXPECT_NE(from_shared.data, ycrcb.data);

  cv::Mat handed = ycrcb.clone();
  const uchar* handed_data = handed.data;
  const cv::Mat from_handed = RecoverRadianceCPU(std::move(handed), airlight, transmission);
  EXPECT_EQ(from_handed.data, handed_data);
  EXPECT_TRUE(SameBytes(from_handed, from_shared));
}

}  // namespace
}  // namespace vantorel
