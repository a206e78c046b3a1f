// Transmission: dark channel and raw transmission, row-profile lift, smoothing scale and
// power step.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <opencv2/core.hpp>

#include "imagedehaze/transmission_steps.h"

namespace vantorel {
namespace {

cv::Mat Column(const std::vector<float>& values) {
  cv::Mat column(static_cast<int>(values.size()), 1, CV_32FC1);
  for (size_t i = 0; i < values.size(); ++i) column.at<float>(static_cast<int>(i)) = values[i];
  return column;
}

cv::Mat OnePixel(const cv::Vec3f& colour) { return cv::Mat(1, 1, CV_32FC3, cv::Scalar(colour[0], colour[1], colour[2])); }

float DarkOf(const cv::Vec3f& pixel, const cv::Vec3f& airlight) {
  return DarkChannel(OnePixel(pixel), airlight).at<float>(0);
}

float RawOf(const cv::Vec3f& pixel, const cv::Vec3f& airlight) {
  return RawTransmission(DarkChannel(OnePixel(pixel), airlight)).at<float>(0);
}

const cv::Vec3f kAirlight(0.8f, 0.9f, 1.0f);

TEST(DarkChannel, PixelEqualToTheAirlightHasTheLowestRawTransmission) {
  EXPECT_EQ(DarkOf(kAirlight, kAirlight), 1.0f);
  EXPECT_NEAR(RawOf(kAirlight, kAirlight), 1.0 - 0.949999988079071, 1e-8);
}

TEST(DarkChannel, ZeroChannelGivesFullTransmission) {
  for (int c = 0; c < 3; ++c) {
    cv::Vec3f pixel(0.7f, 0.8f, 0.9f);
    pixel[c] = 0.0f;
    EXPECT_EQ(DarkOf(pixel, kAirlight), 0.0f) << "channel " << c;
    EXPECT_EQ(RawOf(pixel, kAirlight), 1.0f) << "channel " << c;
  }
}

TEST(DarkChannel, PixelBrighterThanTheAirlightIsCappedAtOne) {
  EXPECT_EQ(DarkOf({0.9f, 1.0f, 1.0f}, {0.5f, 0.6f, 0.7f}), 1.0f);
}

TEST(DarkChannel, EachChannelIsDividedByItsOwnComponent) {
  // Ratios 0.5, 1, 0.9; then 1, 0.4, 0.9; then 1, 1, 0.3.
  EXPECT_FLOAT_EQ(DarkOf({0.25f, 0.5f, 0.9f}, {0.5f, 0.5f, 1.0f}), 0.5f);
  EXPECT_FLOAT_EQ(DarkOf({0.5f, 0.2f, 0.9f}, {0.5f, 0.5f, 1.0f}), 0.4f);
  EXPECT_FLOAT_EQ(DarkOf({0.5f, 0.5f, 0.3f}, {0.5f, 0.5f, 1.0f}), 0.3f);
  EXPECT_FLOAT_EQ(RawOf({0.25f, 0.5f, 0.9f}, {0.5f, 0.5f, 1.0f}), 1.0f - 0.95f * 0.5f);
}

TEST(DarkChannel, NoNeighbourhoodIsConsulted) {
  cv::Mat img(5, 5, CV_32FC3, cv::Scalar(0.8, 0.9, 1.0));
  img.at<cv::Vec3f>(2, 2) = cv::Vec3f(0.0f, 0.9f, 1.0f);
  const cv::Mat dark = DarkChannel(img, kAirlight);
  for (int i = 0; i < 25; ++i) EXPECT_EQ(dark.at<float>(i / 5, i % 5), i == 12 ? 0.0f : 1.0f) << i;
}

TEST(DarkChannel, ZeroAirlightComponentNeverProducesNaN) {
  // An infinite ratio loses every minimum; 0 / 0 in blue ends at the cap, elsewhere it loses.
  const cv::Vec3f no_blue(0.0f, 1.0f, 1.0f), no_green(1.0f, 0.0f, 1.0f);
  EXPECT_EQ(DarkOf({0.2f, 0.5f, 0.6f}, no_blue), 0.5f);
  EXPECT_EQ(DarkOf({0.0f, 0.5f, 0.6f}, no_blue), 1.0f);
  EXPECT_EQ(DarkOf({0.5f, 0.0f, 0.6f}, no_green), 0.5f);
  EXPECT_EQ(DarkOf({0.5f, 0.7f, 0.6f}, cv::Vec3f(0.0f, 0.0f, 0.0f)), 1.0f);
}

TEST(RawTransmission, StaysWithinItsRangeAndFollowsTheDarkChannel) {
  cv::Mat dark(1, 101, CV_32FC1);
  for (int i = 0; i <= 100; ++i) dark.at<float>(i) = i / 100.0f;
  const cv::Mat raw = RawTransmission(dark);
  ASSERT_EQ(raw.type(), CV_32FC1);
  for (int i = 0; i <= 100; ++i) {
    EXPECT_NEAR(raw.at<float>(i), 1.0 - 0.949999988079071 * (i / 100.0f), 2e-7) << i;
    EXPECT_GE(raw.at<float>(i), 0.05f);
    if (i > 0) {
      EXPECT_LT(raw.at<float>(i), raw.at<float>(i - 1));
    }
  }
}

TEST(RowProfile, RowMeansAreTakenPerRow) {
  const cv::Mat image = (cv::Mat_<float>(3, 4) << 0.1f, 0.3f, 0.1f, 0.3f,  //
                         1.0f, 1.0f, 1.0f, 1.0f,                            //
                         0.05f, 0.15f, 0.25f, 0.35f);
  const cv::Mat means = RowMeans(image);
  ASSERT_EQ(means.size(), cv::Size(1, 3));
  EXPECT_FLOAT_EQ(means.at<float>(0), 0.2f);
  EXPECT_FLOAT_EQ(means.at<float>(1), 1.0f);
  EXPECT_FLOAT_EQ(means.at<float>(2), 0.2f);
}

TEST(RowProfile, RisesAreFollowedAndFallsTakenAtThreeQuarters) {
  const cv::Mat profile = DampedRowProfile(Column({0.2f, 0.6f, 0.3f}));
  EXPECT_FLOAT_EQ(profile.at<float>(0), 0.2f);
  EXPECT_FLOAT_EQ(profile.at<float>(1), 0.6f);
  EXPECT_FLOAT_EQ(profile.at<float>(2), 0.375f);
}

TEST(RowProfile, ValuesAboveOneAreCappedBeforeTheLift) {
  const cv::Mat profile = DampedRowProfile(Column({1.0f, 0.6f, 1.0f}));
  EXPECT_FLOAT_EQ(profile.at<float>(0), 1.0f);
  EXPECT_FLOAT_EQ(profile.at<float>(1), 0.7f);
  EXPECT_FLOAT_EQ(profile.at<float>(2), 1.1f);
  const cv::Mat capped = CapRowProfile(profile);
  EXPECT_FLOAT_EQ(capped.at<float>(0), 1.0f);
  EXPECT_FLOAT_EQ(capped.at<float>(1), 0.7f);
  EXPECT_EQ(capped.at<float>(2), 1.0f);
  EXPECT_FLOAT_EQ(profile.at<float>(2), 1.1f) << "the cap must not touch its input";
}

TEST(RowProfile, NeverLiesBelowTheRowMean) {
  std::vector<float> means;
  for (int i = 0; i < 200; ++i) means.push_back(0.5f + 0.45f * std::sin(i * 0.37f));
  const cv::Mat profile = DampedRowProfile(Column(means));
  for (int i = 0; i < 200; ++i) EXPECT_GE(profile.at<float>(i), means[i]) << "row " << i;
}

TEST(RowProfile, SingleRowIsLiftedHalfwayToItsMean) {
  cv::Mat raw = (cv::Mat_<float>(1, 4) << 0.2f, 0.4f, 0.6f, 1.0f);  // mean 0.55
  const cv::Mat profile = DampedRowProfile(RowMeans(raw));
  ASSERT_EQ(profile.rows, 1);
  EXPECT_FLOAT_EQ(profile.at<float>(0), 0.55f);
  LiftTowardRowProfile(raw, CapRowProfile(profile));
  EXPECT_FLOAT_EQ(raw.at<float>(0), 0.375f);
  EXPECT_FLOAT_EQ(raw.at<float>(1), 0.475f);
  EXPECT_EQ(raw.at<float>(2), 0.6f);
  EXPECT_EQ(raw.at<float>(3), 1.0f);
}

TEST(RowProfile, LiftUsesEachRowsOwnProfileValue) {
  cv::Mat raw(3, 2, CV_32FC1, cv::Scalar(0.2));
  LiftTowardRowProfile(raw, Column({0.2f, 0.6f, 1.0f}));
  for (int x = 0; x < 2; ++x) {
    EXPECT_EQ(raw.at<float>(0, x), 0.2f);
    EXPECT_FLOAT_EQ(raw.at<float>(1, x), 0.4f);
    EXPECT_FLOAT_EQ(raw.at<float>(2, x), 0.6f);
  }
}

TEST(SmoothingScale, IsOneSixteenthOfTheGeometricMeanSizeUpTo35) {
  EXPECT_EQ(TransmissionSigmaS(100, 100), 6.25);
  EXPECT_EQ(TransmissionSigmaS(559, 559), 34.9375);
  EXPECT_EQ(TransmissionSigmaS(560, 560), 35.0);
  EXPECT_EQ(TransmissionSigmaS(4000, 3000), 35.0);
  EXPECT_EQ(TransmissionSigmaS(1, 16), 0.25);
  EXPECT_EQ(kTransmissionSigmaR, 0.10000000149011612);
}

TEST(PowerStep, ExponentIsNineTenthsOfTheThickness) {
  EXPECT_EQ(TransmissionExponent(1.0f), 0.9f);
  EXPECT_EQ(TransmissionExponent(0.5f), 0.45f);
}

TEST(PowerStep, RaisesTowardOneAndKeepsZeroAndOne) {
  for (const float exponent : {TransmissionExponent(1.0f), TransmissionExponent(0.5f)}) {
    cv::Mat t = (cv::Mat_<float>(1, 4) << 0.0f, 0.05f, 0.5f, 1.0f);
    RaiseTransmission(t, exponent);
    // The library's float power goes through its own logarithm, which is finite at 0:
    // 0 comes back as a positive value far below anything a float near 1 can resolve.
    EXPECT_GE(t.at<float>(0), 0.0f) << exponent;
    EXPECT_LT(t.at<float>(0), 1e-16f) << exponent;
    EXPECT_NEAR(t.at<float>(1), std::pow(0.05, static_cast<double>(exponent)), 1e-6) << exponent;
    EXPECT_NEAR(t.at<float>(2), std::pow(0.5, static_cast<double>(exponent)), 1e-6) << exponent;
    EXPECT_EQ(t.at<float>(3), 1.0f) << exponent;
  }
}

}  // namespace
}  // namespace vantorel
