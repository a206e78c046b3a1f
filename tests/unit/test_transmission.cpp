// Transmission: dark channel and raw transmission, row-profile lift, smoothing scale,
// power step, and the whole stage.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "imagedehaze/airlight.h"
#include "imagedehaze/transmission.h"
#include "band_rows.h"
#include "filters/schedule.h"
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

// Whole pictures go eight samples at a time, pixels in runs and in parallel ranges: every
// pixel must still be its own three divisions, smallest first-wins in the order g, r against
// b, then the cap. Odd sizes put pixels at every lane and in the leftovers; zeros and a
// zero component give the infinite and not-a-number ratios inside the vector lanes too.
TEST(DarkChannel, WholePicturesArePixelByPixel) {
  for (const cv::Size size : {cv::Size(3, 1), cv::Size(333, 257), cv::Size(1920, 41)}) {
    cv::Mat img(size, CV_32FC3);
    cv::RNG rng(size.area());
    rng.fill(img, cv::RNG::UNIFORM, 0.0, 1.2);
    for (int i = 0; i < size.area(); i += 7) img.at<cv::Vec3f>(i / size.width, i % size.width)[i % 3] = 0.0f;
    for (const cv::Vec3f& airlight : {kAirlight, cv::Vec3f(0.0f, 1.0f, 1.0f), cv::Vec3f(0.3f, 0.0f, 0.7f)}) {
      const cv::Mat dark = DarkChannel(img, airlight);
      for (int i = 0; i < size.area(); ++i) {
        const cv::Vec3f p = img.at<cv::Vec3f>(i / size.width, i % size.width);
        const float b = p[0] / airlight[0], g = p[1] / airlight[1], r = p[2] / airlight[2];
        float m = g < b ? g : b;
        m = r < m ? r : m;
        m = m < 1.0f ? m : 1.0f;
        const float got = dark.at<float>(i / size.width, i % size.width);
        ASSERT_EQ(std::memcmp(&got, &m, sizeof m), 0) << size << " pixel " << i << " airlight " << airlight;
      }
    }
  }
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

// The step runs in bands of rows; the library's power of the whole map, element for
// element, is the result to keep. Odd widths put elements at every place of the library's
// vector lanes and leftovers, in the map and in the bands alike.
TEST(PowerStep, BandsGiveTheValuesOfTheWholeMap) {
  for (const cv::Size size : {cv::Size(1, 1), cv::Size(7, 3), cv::Size(1001, 203), cv::Size(1920, 67)}) {
    cv::Mat t(size, CV_32FC1);
    cv::RNG(size.area()).fill(t, cv::RNG::UNIFORM, 0.05, 1.0);
    for (const float exponent : {TransmissionExponent(0.8f), TransmissionExponent(0.33f)}) {
      cv::Mat whole;
      cv::pow(t, static_cast<double>(exponent), whole);
      cv::Mat banded = t.clone();
      RaiseTransmission(banded, exponent);
      EXPECT_EQ(std::memcmp(banded.data, whole.data, whole.total() * sizeof(float)), 0) << size << " " << exponent;
    }
  }
}

cv::Mat LumaOf(const cv::Mat& bgr) {
  cv::Mat ycrcb;
  cv::cvtColor(bgr, ycrcb, cv::COLOR_BGR2YCrCb, 0);
  cv::Mat y;
  cv::extractChannel(ycrcb, y, 0);
  return y;
}

void ExpectAllNear(const cv::Mat& map, double value, double tolerance) {
  double lo = 0, hi = 0;
  cv::minMaxLoc(map, &lo, &hi);
  EXPECT_NEAR(lo, value, tolerance);
  EXPECT_NEAR(hi, value, tolerance);
}

TEST(TransmissionStage, PictureEqualToTheAirlightGetsTheLowestTransmissionRaised) {
  const cv::Vec3f airlight(0.5f, 0.75f, 1.0f);
  const cv::Mat img(30, 40, CV_32FC3, cv::Scalar(airlight[0], airlight[1], airlight[2]));
  const float exponent = TransmissionExponent(0.9f);
  const cv::Mat t = EstimateTransmissionCPU(img, airlight, LumaOf(img), exponent);
  ASSERT_EQ(t.type(), CV_32FC1);
  ASSERT_EQ(t.size(), img.size());
  ExpectAllNear(t, std::pow(1.0 - 0.949999988079071, static_cast<double>(exponent)), 1e-6);
}

TEST(TransmissionStage, PictureWithAZeroChannelEverywhereIsFullyClear) {
  const cv::Mat img(25, 33, CV_32FC3, cv::Scalar(0.0, 0.6, 1.0));
  const cv::Mat t = EstimateTransmissionCPU(img, EstimateAirlightCPU(img), LumaOf(img), 0.9f);
  ExpectAllNear(t, 1.0, 1e-6);
}

// Top half hazy (equal to the airlight), bottom half clear (blue at 0), with a strong luma
// edge between them.
cv::Mat HazeAboveClearBelow(int rows, int cols) {
  cv::Mat img(rows, cols, CV_32FC3, cv::Scalar(1.0, 1.0, 1.0));
  img.rowRange(rows / 2, rows).setTo(cv::Scalar(0.0, 0.5, 0.5));
  return img;
}

TEST(TransmissionStage, SmoothingKeepsTheLumaEdge) {
  const cv::Mat img = HazeAboveClearBelow(40, 40);
  const cv::Vec3f airlight(1.0f, 1.0f, 1.0f);
  const float exponent = 0.9f;
  const double hazy = std::pow(1.0 - 0.949999988079071, 0.9);

  const cv::Mat t = EstimateTransmissionCPU(img, airlight, LumaOf(img), exponent);
  ExpectAllNear(t.rowRange(0, 20), hazy, 1e-5);
  ExpectAllNear(t.rowRange(20, 40), 1.0, 1e-5);

  // Without the edge in the guide the two halves bleed into each other at the border.
  const cv::Mat flat_guide(40, 40, CV_32FC1, cv::Scalar(0.5));
  const cv::Mat blurred = EstimateTransmissionCPU(img, airlight, flat_guide, exponent);
  EXPECT_GT(blurred.at<float>(19, 20), hazy + 0.05);
  EXPECT_LT(blurred.at<float>(20, 20), 1.0 - 0.05);
}

TEST(TransmissionStage, ThinnerHazeRaisesTheSameSmoothedMapFurther) {
  cv::Mat img(24, 31, CV_32FC3);
  cv::RNG(7).fill(img, cv::RNG::UNIFORM, 0.0, 1.0);
  const cv::Vec3f airlight = EstimateAirlightCPU(img);
  const cv::Mat y = LumaOf(img);
  const cv::Mat thick = EstimateTransmissionCPU(img, airlight, y, TransmissionExponent(1.0f));
  const cv::Mat thin = EstimateTransmissionCPU(img, airlight, y, TransmissionExponent(0.5f));
  for (int i = 0; i < 24 * 31; ++i) {
    const float a = thick.at<float>(i / 31, i % 31), b = thin.at<float>(i / 31, i % 31);
    EXPECT_GE(b, a) << i;
    EXPECT_NEAR(b * b, a, 1e-5) << i;  // s^0.45 squared is s^0.9
  }
}

TEST(TransmissionStage, RandomPictureGivesAFiniteMapInRangeAndLeavesItsInputs) {
  cv::Mat img(37, 29, CV_32FC3);
  cv::RNG(11).fill(img, cv::RNG::UNIFORM, 0.0, 1.0);
  const cv::Mat y = LumaOf(img);
  const cv::Mat img_before = img.clone(), y_before = y.clone();
  const cv::Mat t = EstimateTransmissionCPU(img, EstimateAirlightCPU(img), y, 0.81f);
  ASSERT_EQ(t.size(), img.size());
  EXPECT_TRUE(cv::checkRange(t, true, nullptr, 0.05, 1.0 + 1e-6));
  EXPECT_EQ(cv::norm(img, img_before, cv::NORM_INF), 0.0);
  EXPECT_EQ(cv::norm(y, y_before, cv::NORM_INF), 0.0);
}

// The one-pass banded form gives the map and the row means of the separate steps, for
// any band size; the lift, in bands too, does not depend on them either.
TEST(TransmissionSteps, BandedRawTransmissionRowMeansAndLiftEqualTheSeparateSteps) {
  cv::Mat dark(203, 77, CV_32FC1);
  cv::RNG(17).fill(dark, cv::RNG::UNIFORM, 0.0, 1.0);
  const cv::Mat raw = RawTransmission(dark);
  const cv::Mat means = RowMeans(raw);
  cv::Mat lifted = raw.clone();
  const cv::Mat profile = CapRowProfile(DampedRowProfile(means));
  LiftTowardRowProfile(lifted, profile);
  for (const int band_rows : {0, 1, 10, 1000}) {
    SetBandRowsForTesting(band_rows);
    cv::Mat banded_means;
    cv::Mat banded = RawTransmissionAndRowMeans(dark.clone(), banded_means);
    EXPECT_EQ(cv::norm(banded, raw, cv::NORM_INF), 0.0) << band_rows;
    EXPECT_EQ(cv::norm(banded_means, means, cv::NORM_INF), 0.0) << band_rows;
    LiftTowardRowProfile(banded, profile);
    EXPECT_EQ(cv::norm(banded, lifted, cv::NORM_INF), 0.0) << band_rows;
  }
  SetBandRowsForTesting(0);
}

}  // namespace
}  // namespace vantorel
