// The natural look's recovery loops: pixels brighter than the airlight keep their luma,
// the blend reads t / 0.5, and everything else is the classic loops' arithmetic.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "imagedehaze/recovery_loops.h"
#include "test_pictures.h"

namespace vantorel {
namespace {

const cv::Vec3f kAirlight(0.9f, 0.5f, 0.5f);

struct Pixels {
  cv::Mat t, s, ycrcb;
  Pixels(int count, uint64_t seed)
      : t(RandomImage(1, count, CV_32FC1, seed)),
        s(RandomImage(1, count, CV_32FC1, seed + 1)),
        ycrcb(RandomImage(1, count, CV_32FC3, seed + 2)) {}
};

TEST(NaturalRecovery, BrighterThanTheAirlightKeepsItsLuma) {
  // One pixel per row, so that the rows given pick the pixels.
  cv::Mat t(3, 1, CV_32FC1, cv::Scalar(0.4f));
  cv::Mat s = (cv::Mat_<float>(3, 1) << 0.95f, 0.95f, 0.7f);
  cv::Mat ycrcb(3, 1, CV_32FC3);
  ycrcb.at<cv::Vec3f>(0) = cv::Vec3f(0.97f, 0.55f, 0.45f);  // both above Y_A
  ycrcb.at<cv::Vec3f>(1) = cv::Vec3f(0.8f, 0.55f, 0.45f);   // only the smoothed one above
  ycrcb.at<cv::Vec3f>(2) = cv::Vec3f(0.92f, 0.55f, 0.45f);  // only its own above
  RecoverPixelsNatural(t, kAirlight, s.ptr<float>(), ycrcb, 0, 1);
  // t / 0.5 = 0.8: blend weight 1 - min(1.5 * 0.8, 1) = 0, the luma stays.
  EXPECT_EQ(ycrcb.at<cv::Vec3f>(0)[0], 0.97f);

  // t = 0.1: t / 0.5 = 0.2, blend weight 0.7. Restored Y = 0.9 - 0.1 / 0.1 = -0.1 -> 0.
  t.setTo(0.1f);
  RecoverPixelsNatural(t, kAirlight, s.ptr<float>(1), ycrcb, 1, 3);
  EXPECT_NEAR(ycrcb.at<cv::Vec3f>(1)[0], 0.0f + (0.95f - 0.0f) * 0.7f, 1e-6);
  // Smoothed 0.7 restores to 0.9 - 0.2 / 0.1 -> 0; own luma 0.92 is kept.
  EXPECT_NEAR(ycrcb.at<cv::Vec3f>(2)[0], 0.92f + (0.0f - 0.92f) * 0.7f, 1e-6);
}

TEST(NaturalRecovery, BlendWeightReadsHalfTheTransmission) {
  const struct {
    float t, weight;
  } cases[] = {{0.0f, 1.0f}, {1.0f / 6.0f, 0.5f}, {0.1f, 0.7f}, {1.0f / 3.0f, 0.0f}, {0.5f, 0.0f}};
  for (const auto& c : cases) {
    cv::Mat t(1, 1, CV_32FC1, cv::Scalar(c.t));
    cv::Mat picture(1, 1, CV_32FC3, cv::Scalar(0.2f, 0.3f, 0.4f));
    const float smoothed = 0.6f;
    BlendChannelNatural(t, 1, &smoothed, picture, 0, 1);
    EXPECT_NEAR(picture.at<cv::Vec3f>(0)[1], 0.3f + 0.3f * c.weight, 1e-6) << c.t;
    EXPECT_EQ(picture.at<cv::Vec3f>(0)[0], 0.2f) << c.t;  // other channels untouched
    EXPECT_EQ(picture.at<cv::Vec3f>(0)[2], 0.4f) << c.t;
  }
}

TEST(NaturalRecovery, SameAsClassicWhereNeitherRuleApplies) {
  // Lumas below Y_A and t from 2/3 on: no blend in either look, and the classic loops'
  // values bit for bit, chroma included.
  Pixels natural(500, 21);
  for (int i = 0; i < 500; ++i) {
    natural.t.at<float>(i) = 0.67f + 0.33f * natural.t.at<float>(i);
    natural.s.at<float>(i) *= 0.89f;
    natural.ycrcb.at<cv::Vec3f>(i)[0] *= 0.89f;
  }
  Pixels classic = natural;
  classic.ycrcb = natural.ycrcb.clone();
  RecoverPixelsNatural(natural.t, kAirlight, natural.s.ptr<float>(), natural.ycrcb, 0, 1);
  RecoverPixels(classic.t, kAirlight, classic.s.ptr<float>(), classic.ycrcb, 0, 1);
  EXPECT_TRUE(SameBytes(natural.ycrcb, classic.ycrcb));
  const cv::Mat smoothed(1, 500, CV_32FC1, cv::Scalar(0.5f));
  BlendChannelNatural(natural.t, 2, smoothed.ptr<float>(), natural.ycrcb, 0, 1);
  BlendChannel(classic.t, 2, smoothed.ptr<float>(), classic.ycrcb, 0, 1);
  EXPECT_TRUE(SameBytes(natural.ycrcb, classic.ycrcb));
}

TEST(NaturalRecovery, WritesOnlyItsRows) {
  Pixels p(4 * 7, 30);
  cv::Mat t = p.t.reshape(1, 4), s = p.s.reshape(1, 4), ycrcb = p.ycrcb.reshape(3, 4);
  const cv::Mat before = ycrcb.clone();
  RecoverPixelsNatural(t, kAirlight, s.ptr<float>(1), ycrcb, 1, 3);
  BlendChannelNatural(t, 1, s.ptr<float>(1), ycrcb, 1, 3);
  EXPECT_TRUE(SameBytes(ycrcb.row(0).clone(), before.row(0).clone()));
  EXPECT_TRUE(SameBytes(ycrcb.row(3).clone(), before.row(3).clone()));
  EXPECT_FALSE(SameBytes(ycrcb.row(1).clone(), before.row(1).clone()));
}

}  // namespace
}  // namespace vantorel
