// The recovery and blending loops: the worked example, the weight thresholds, and the
// limits at a transmission of 0.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "imagedehaze/recovery_loops.h"

namespace vantorel {
namespace {

struct OnePixel {
  cv::Mat t = cv::Mat(1, 1, CV_32FC1);
  cv::Mat s = cv::Mat(1, 1, CV_32FC1);
  cv::Mat ycrcb = cv::Mat(1, 1, CV_32FC3);
  cv::Mat smoothed_cr = cv::Mat(1, 1, CV_32FC1, cv::Scalar(0.5f));
  cv::Mat smoothed_cb = cv::Mat(1, 1, CV_32FC1, cv::Scalar(0.5f));

  OnePixel(float t_value, float s_value, cv::Vec3f pixel) {
    t.at<float>(0) = t_value;
    s.at<float>(0) = s_value;
    ycrcb.at<cv::Vec3f>(0) = pixel;
  }
  void Recover(cv::Vec3f airlight) { RecoverPixels(t, airlight, s.ptr<float>(), ycrcb, 0, 1); }
  void Blend() {
    BlendChannel(t, 0, s.ptr<float>(), ycrcb, 0, 1);
    BlendChroma();
  }
  void BlendChroma() {
    BlendChannel(t, 1, smoothed_cr.ptr<float>(), ycrcb, 0, 1);
    BlendChannel(t, 2, smoothed_cb.ptr<float>(), ycrcb, 0, 1);
  }
  cv::Vec3f Pixel() const { return ycrcb.at<cv::Vec3f>(0); }
};

const cv::Vec3f kAirlight(0.9f, 0.5f, 0.5f);

TEST(RecoveryLoops, WorkedExample) {
  // Y restores to 0.9 - 0.1 / 0.5 = 0.7 and S to 0.9 - 0.2 / 0.5 = 0.5; the blend weight
  // is 1 - 1.5 * 0.5 = 0.25, so the luma ends at 0.7 + (0.5 - 0.7) * 0.25.
  OnePixel px(0.5f, 0.7f, {0.8f, 0.55f, 0.45f});
  px.Recover(kAirlight);
  EXPECT_NEAR(px.Pixel()[0], 0.65f, 1e-6);
  EXPECT_NEAR(px.Pixel()[1], 0.58125f, 1e-6);
  EXPECT_NEAR(px.Pixel()[2], 0.41875f, 1e-6);
  // The same weight toward the smoothed chroma 0.5; the luma is not blended twice.
  px.BlendChroma();
  EXPECT_NEAR(px.Pixel()[0], 0.65f, 1e-6);
  EXPECT_NEAR(px.Pixel()[1], 0.58125f + (0.5f - 0.58125f) * 0.25f, 1e-6);
  EXPECT_NEAR(px.Pixel()[2], 0.41875f + (0.5f - 0.41875f) * 0.25f, 1e-6);
}

TEST(RecoveryLoops, FullTransmissionChangesNothing) {
  OnePixel px(1.0f, 0.3f, {0.3f, 0.62f, 0.41f});
  px.Recover(kAirlight);
  EXPECT_NEAR(px.Pixel()[0], 0.3f, 1e-7);
  EXPECT_NEAR(px.Pixel()[1], 0.62f, 1e-7);
  EXPECT_NEAR(px.Pixel()[2], 0.41f, 1e-7);
  const cv::Vec3f before = px.Pixel();
  px.Blend();
  EXPECT_EQ(px.Pixel(), before);
}

TEST(RecoveryLoops, ChromaWeightReachesOneAtPointEight) {
  // At w = 1 chroma is restored against the airlight's exactly like luma.
  OnePixel px(0.8f, 0.6f, {0.6f, 0.6f, 0.6f});
  px.Recover(kAirlight);
  const float expected = 0.5f - (0.5f - 0.6f) / 0.8f;
  EXPECT_EQ(px.Pixel()[1], expected);
  EXPECT_EQ(px.Pixel()[2], expected);
}

TEST(RecoveryLoops, ChromaWeightIsHalfAtPointFour) {
  OnePixel px(0.4f, 0.6f, {0.6f, 0.7f, 0.3f});
  px.Recover(kAirlight);
  const float cr_m = 0.5f * 0.7f + 0.5f * 0.5f;
  const float cb_m = 0.5f * 0.3f + 0.5f * 0.5f;
  EXPECT_NEAR(px.Pixel()[1], cr_m - (cr_m - 0.7f) / 0.4f, 1e-6);
  EXPECT_NEAR(px.Pixel()[2], cb_m - (cb_m - 0.3f) / 0.4f, 1e-6);
}

TEST(RecoveryLoops, BlendWeightIsZeroFromTwoThirdsAndHalfAtOneThird) {
  OnePixel two_thirds(2.0f / 3.0f, 0.2f, {0.6f, 0.3f, 0.7f});
  two_thirds.Blend();
  EXPECT_EQ(two_thirds.Pixel(), cv::Vec3f(0.6f, 0.3f, 0.7f));

  OnePixel one_third(1.0f / 3.0f, 0.2f, {0.6f, 0.3f, 0.7f});
  one_third.Blend();
  EXPECT_NEAR(one_third.Pixel()[0], 0.4f, 1e-6);
  EXPECT_NEAR(one_third.Pixel()[1], 0.4f, 1e-6);
  EXPECT_NEAR(one_third.Pixel()[2], 0.6f, 1e-6);
}

TEST(RecoveryLoops, ZeroTransmissionEndsAtTheLimits) {
  // Below the reference: -inf, clamped to 0. Above: +inf, 1. Equal: NaN, which ends as 1.
  OnePixel below(0.0f, 0.3f, {0.3f, 0.5f, 0.5f});
  below.Recover(kAirlight);
  EXPECT_EQ(below.Pixel()[0], 0.0f);
  // At t = 0 the chroma reference is the pixel's own chroma: equal, so NaN, so 1.
  EXPECT_EQ(below.Pixel()[1], 1.0f);
  EXPECT_EQ(below.Pixel()[2], 1.0f);

  OnePixel above(0.0f, 0.95f, {0.95f, 0.5f, 0.5f});
  above.Recover(kAirlight);
  EXPECT_EQ(above.Pixel()[0], 1.0f);
  // At t = 0 the luma is S' in full: here S' is 0 where Y alone would restore to 1.
  OnePixel apart(0.0f, 0.3f, {0.95f, 0.5f, 0.5f});
  apart.Recover(kAirlight);
  EXPECT_EQ(apart.Pixel()[0], 0.0f);

  OnePixel equal(0.0f, 0.9f, {0.9f, 0.5f, 0.5f});
  equal.Recover(kAirlight);
  EXPECT_EQ(equal.Pixel()[0], 1.0f);

  // The chroma blend then takes the smoothed chroma in full.
  below.smoothed_cr.at<float>(0) = 0.25f;
  below.smoothed_cb.at<float>(0) = 0.75f;
  below.BlendChroma();
  EXPECT_EQ(below.Pixel(), cv::Vec3f(0.0f, 0.25f, 0.75f));
}

TEST(RecoveryLoops, LumaEqualToTheAirlightsIsKeptForEveryTransmission) {
  for (float t : {0.05f, 0.3f, 0.7f, 1.0f}) {
    OnePixel px(t, 0.9f, {0.9f, 0.5f, 0.5f});
    px.Recover(kAirlight);
    EXPECT_EQ(px.Pixel()[0], 0.9f) << t;
  }
}

TEST(AirlightToYCrCb, MatchesTheConversionOfThePicture) {
  const cv::Vec3f airlight(0.2125f, 0.275f, 0.7125f);
  const cv::Mat picture(2, 2, CV_32FC3, cv::Scalar(airlight[0], airlight[1], airlight[2]));
  cv::Mat converted;
  cv::cvtColor(picture, converted, cv::COLOR_BGR2YCrCb);
  EXPECT_EQ(AirlightToYCrCb(airlight), converted.at<cv::Vec3f>(1, 1));
}

// The loops are handed the smoothed values of their rows only: rows done band by band,
// in any order, give what the whole picture at once gives.
TEST(RecoveryLoops, RowsDoneBandByBandEqualTheWholePicture) {
  cv::Mat t(9, 11, CV_32FC1), picture(9, 11, CV_32FC3), planes[2];
  cv::RNG rng(31);
  rng.fill(t, cv::RNG::UNIFORM, -0.1, 0.8);
  rng.fill(picture, cv::RNG::UNIFORM, 0.0, 1.0);
  for (cv::Mat& plane : planes) {
    plane.create(9, 11, CV_32FC1);
    rng.fill(plane, cv::RNG::UNIFORM, 0.0, 1.0);
  }
  cv::Mat whole = picture.clone(), banded = picture.clone();
  RecoverPixels(t, kAirlight, planes[0].ptr<float>(), whole, 0, 9);
  BlendChannel(t, 2, planes[1].ptr<float>(), whole, 0, 9);
  for (const auto& [first, end] : {std::pair{5, 9}, std::pair{0, 1}, std::pair{1, 5}}) {
    RecoverPixels(t, kAirlight, planes[0].ptr<float>(first), banded, first, end);
    BlendChannel(t, 2, planes[1].ptr<float>(first), banded, first, end);
  }
  EXPECT_EQ(cv::norm(whole, banded, cv::NORM_INF), 0.0);
  EXPECT_GT(cv::norm(whole, picture, cv::NORM_INF), 0.0);
}

// Rows go eight pixels at a time in vector lanes, the leftovers one by one: every pixel,
// restored or blended, in either look, must be what it is when it is the only pixel. The transmissions include
// 0, negative values, values above 1 and NaN, the values lie on both sides of the
// airlight, and 37 pixels put some in every lane and some in the leftovers.
TEST(RecoveryLoops, PixelsInVectorLanesEqualPixelsOnTheirOwn) {
  constexpr int kCount = 37;
  cv::Mat t(1, kCount, CV_32FC1), s(1, kCount, CV_32FC1), picture(1, kCount, CV_32FC3);
  cv::RNG rng(41);
  rng.fill(t, cv::RNG::UNIFORM, -0.2, 1.2);
  rng.fill(s, cv::RNG::UNIFORM, 0.0, 1.0);
  rng.fill(picture, cv::RNG::UNIFORM, 0.0, 1.0);
  t.at<float>(3) = 0.0f;
  t.at<float>(12) = std::nanf("");
  t.at<float>(33) = 0.0f;
  for (const auto recover : {&RecoverPixels, &RecoverPixelsNatural}) {
    cv::Mat row = picture.clone();
    recover(t, kAirlight, s.ptr<float>(), row, 0, 1);
    for (int i = 0; i < kCount; ++i) {
      cv::Mat one = picture.col(i).clone();
      recover(t.col(i).clone(), kAirlight, s.ptr<float>() + i, one, 0, 1);
      const cv::Vec3f got = row.at<cv::Vec3f>(i), want = one.at<cv::Vec3f>(0);
      EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "pixel " << i << ": " << got << " against " << want;
    }
  }
  for (const auto blend : {&BlendChannel, &BlendChannelNatural}) {
    for (int k = 0; k < 3; ++k) {
      cv::Mat row = picture.clone();
      blend(t, k, s.ptr<float>(), row, 0, 1);
      for (int i = 0; i < kCount; ++i) {
        cv::Mat one = picture.col(i).clone();
        blend(t.col(i).clone(), k, s.ptr<float>() + i, one, 0, 1);
        const cv::Vec3f got = row.at<cv::Vec3f>(i), want = one.at<cv::Vec3f>(0);
        EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "channel " << k << ", pixel " << i;
      }
    }
  }
}

}  // namespace
}  // namespace vantorel
