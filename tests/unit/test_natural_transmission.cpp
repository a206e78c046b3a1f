// The natural look's transmission: sizes that follow the picture, the dark channel's
// erosion, the flatness weight and the floor it sets in flat regions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "imagedehaze/natural_look.h"
#include "imagedehaze/natural_transmission.h"
#include "test_pictures.h"

namespace vantorel {
namespace {

TEST(NaturalSettings, SizesFollowTheShorterSide) {
  EXPECT_EQ(NaturalSmoothingSigma(100, 100), 7.0);
  EXPECT_EQ(NaturalSmoothingSigma(1066, 1600), static_cast<double>(74.62f));
  EXPECT_EQ(NaturalSmoothingSigma(3000, 4000), 210.0);
  EXPECT_EQ(NaturalSmoothingSigma(4000, 3000), 210.0);
  EXPECT_EQ(NaturalSmoothingSigma(1, 5000), static_cast<double>(0.07f));

  // Integer divisions: a window widens by two at every multiple of its divisor.
  EXPECT_EQ(NaturalErosionSize(63, 4000), 1);
  EXPECT_EQ(NaturalErosionSize(64, 4000), 3);
  EXPECT_EQ(NaturalErosionSize(3000, 4000), 2 * 46 + 1);
  EXPECT_EQ(NaturalTextureWindow(99, 99), 1);
  EXPECT_EQ(NaturalTextureWindow(3000, 4000), 61);
  EXPECT_EQ(NaturalFlatnessWindow(24, 1000), 1);
  EXPECT_EQ(NaturalFlatnessWindow(3000, 4000), 241);
}

TEST(NaturalSettings, ExponentIsThicknessOverNineTenths) {
  EXPECT_EQ(NaturalTransmissionExponent(0.9f), 1.0f);
  EXPECT_EQ(NaturalTransmissionExponent(0.45f), 0.5f);
  EXPECT_EQ(NaturalTransmissionExponent(1.0f), static_cast<float>(1.0 / 0.9));
  EXPECT_EQ(NaturalTransmissionExponent(0.1f), static_cast<float>(static_cast<double>(0.1f) / 0.9));
}

// The minimum over the clamped square, written out.
cv::Mat StraightforwardErosion(const cv::Mat& plane, int size) {
  cv::Mat eroded(plane.size(), CV_32FC1);
  const int r = size / 2;
  for (int y = 0; y < plane.rows; ++y) {
    for (int x = 0; x < plane.cols; ++x) {
      float m = plane.at<float>(y, x);
      for (int dy = -r; dy <= r; ++dy) {
        for (int dx = -r; dx <= r; ++dx) {
          const int yy = std::clamp(y + dy, 0, plane.rows - 1);
          const int xx = std::clamp(x + dx, 0, plane.cols - 1);
          m = std::min(m, plane.at<float>(yy, xx));
        }
      }
      eroded.at<float>(y, x) = m;
    }
  }
  return eroded;
}

TEST(NaturalTransmission, ErosionIsTheMinimumOverTheClampedSquare) {
  for (const int size : {1, 3, 7, 41}) {
    const cv::Mat plane = RandomImage(37, 29, CV_32FC1, static_cast<uint64_t>(size));
    cv::Mat eroded = plane.clone();
    ErodeDarkChannel(eroded, size);
    EXPECT_TRUE(SameBytes(eroded, StraightforwardErosion(plane, size))) << "size " << size;
  }
}

// A luma of `level` everywhere, with a stripe of strong texture in columns [20, 30).
cv::Mat FlatWithTexturedStripe(float level) {
  cv::Mat ycrcb(40, 60, CV_32FC3, cv::Scalar(level, 0.5f, 0.5f));
  cv::RNG rng(5);
  for (int y = 0; y < ycrcb.rows; ++y) {
    for (int x = 20; x < 30; ++x) ycrcb.at<cv::Vec3f>(y, x)[0] = rng.uniform(0.2f, 0.8f);
  }
  return ycrcb;
}

TEST(NaturalTransmission, FlatnessIsOneOnFlatLumaAndZeroOnTexture) {
  const cv::Mat weight = FlatnessWeight(FlatWithTexturedStripe(0.4f), 5, 1);
  ASSERT_EQ(weight.type(), CV_32FC1);
  ASSERT_EQ(weight.size(), cv::Size(60, 40));
  for (int y = 0; y < weight.rows; ++y) {
    EXPECT_EQ(weight.at<float>(y, 5), 1.0f) << y;     // far from the stripe
    EXPECT_EQ(weight.at<float>(y, 25), 0.0f) << y;    // in it
    EXPECT_EQ(weight.at<float>(y, 17), 1.0f) << y;    // its window just misses the stripe
    EXPECT_EQ(weight.at<float>(y, 18), 0.0f) << y;    // one textured column in the window
  }
  // A small even ramp has a spread of about 0.0046 in a 5 x 5 window: partly flat.
  cv::Mat ramp(20, 20, CV_32FC3);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) ramp.at<cv::Vec3f>(y, x) = cv::Vec3f(0.3f + 0.00325f * x, 0.5f, 0.5f);
  }
  const float inner = FlatnessWeight(ramp, 5, 1).at<float>(10, 10);
  EXPECT_GT(inner, 0.55f);
  EXPECT_LT(inner, 0.8f);
}

TEST(NaturalTransmission, FlatnessIsSpreadOverItsWindow) {
  const cv::Mat weight = FlatnessWeight(FlatWithTexturedStripe(0.4f), 5, 11);
  // Column 12 sees columns 7 .. 17 of the unspread weight, all 1; column 13 one 0 of 11.
  EXPECT_FLOAT_EQ(weight.at<float>(20, 12), 1.0f);
  EXPECT_NEAR(weight.at<float>(20, 13), 10.0f / 11.0f, 1e-6);
  for (int y = 0; y < weight.rows; ++y) {
    for (int x = 0; x < weight.cols; ++x) {
      ASSERT_GE(weight.at<float>(y, x), 0.0f);
      ASSERT_LE(weight.at<float>(y, x), 1.0f);
    }
  }
}

// The weight as written, every step in a plane of its own; FlatnessWeight filters in place.
cv::Mat StraightforwardFlatness(const cv::Mat& ycrcb, int texture_window, int flatness_window) {
  const cv::Size texture(texture_window, texture_window), flatness(flatness_window, flatness_window);
  cv::Mat luma, squares, mean, mean_of_squares, unspread, spread;
  cv::extractChannel(ycrcb, luma, 0);
  cv::multiply(luma, luma, squares);
  cv::blur(luma, mean, texture, cv::Point(-1, -1), cv::BORDER_REPLICATE);
  cv::blur(squares, mean_of_squares, texture, cv::Point(-1, -1), cv::BORDER_REPLICATE);
  unspread.create(ycrcb.size(), CV_32FC1);
  for (int y = 0; y < ycrcb.rows; ++y) {
    for (int x = 0; x < ycrcb.cols; ++x) {
      const float m = mean.at<float>(y, x);
      const float sd = std::sqrt(std::max(mean_of_squares.at<float>(y, x) - m * m, 0.0f));
      unspread.at<float>(y, x) = std::clamp((0.008f - sd) / 0.005f, 0.0f, 1.0f);
    }
  }
  cv::blur(unspread, spread, flatness, cv::Point(-1, -1), cv::BORDER_REPLICATE);
  return spread;
}

TEST(NaturalTransmission, FlatnessIsTheStraightforwardComputationBitForBit) {
  // Noise of a spread around the thresholds, so that every branch of the clamp is taken.
  cv::Mat ycrcb = RandomImage(150, 170, CV_32FC3, 8);
  ycrcb.forEach<cv::Vec3f>([](cv::Vec3f& p, const int* position) {
    p[0] = 0.4f + 0.02f * p[0] * static_cast<float>(position[1] % 3);
  });
  for (const auto& [texture, flatness] : {std::pair{1, 1}, std::pair{3, 13}, std::pair{7, 31}, std::pair{61, 241}}) {
    EXPECT_TRUE(SameBytes(FlatnessWeight(ycrcb, texture, flatness),
                          StraightforwardFlatness(ycrcb, texture, flatness)))
        << texture << ", " << flatness;
  }
}

TEST(NaturalTransmission, FloorKeepsSixTenthsOfTheLuma) {
  const float y_a = 0.9f;
  EXPECT_EQ(FlatFloor(0.0f, y_a), 1.0f);
  EXPECT_NEAR(FlatFloor(0.5f, y_a), 0.4f / 0.6f, 1e-6);
  EXPECT_EQ(FlatFloor(0.9f, y_a), 0.0f);   // at the airlight: thick haze, no floor
  EXPECT_EQ(FlatFloor(0.95f, y_a), 0.0f);  // brighter than the airlight
  // Restoring y with its floor as transmission gives 0.6 y: y_a - (y_a - y) / t.
  for (float y = 0.05f; y < 0.9f; y += 0.05f) {
    const float t = FlatFloor(y, y_a);
    EXPECT_NEAR(y_a - (y_a - y) / t, 0.6f * y, 1e-5) << y;
  }
  // Close to the airlight the floor is small, so the haze there can still be removed.
  EXPECT_LT(FlatFloor(0.85f, y_a), 0.15f);
}

TEST(NaturalTransmission, FloorRaisesOnlyFlatPixelsAndNeverLowers) {
  const cv::Mat ycrcb = FlatWithTexturedStripe(0.3f);
  const cv::Mat weight = FlatnessWeight(ycrcb, 5, 1);
  cv::Mat raw(ycrcb.size(), CV_32FC1, cv::Scalar(0.1f));
  raw.at<float>(3, 3) = 0.9f;  // already above the floor
  RaiseFlatRegions(raw, weight, ycrcb, 0.9f, 0, raw.rows);
  const float floor = FlatFloor(0.3f, 0.9f);  // 0.6 / 0.72
  EXPECT_EQ(raw.at<float>(10, 5), floor);
  EXPECT_EQ(raw.at<float>(3, 3), 0.9f);
  EXPECT_EQ(raw.at<float>(10, 25), 0.1f);  // textured: the weight is 0
}

TEST(NaturalTransmission, MapIsMadeInTheDarkChannelsPlaneAndStaysInRange) {
  // A flat bright sky over a textured ground, with a dark channel of noise.
  cv::Mat ycrcb(90, 120, CV_32FC3, cv::Scalar(0.7f, 0.48f, 0.53f));
  cv::RNG rng(9);
  for (int y = 60; y < 90; ++y) {
    for (int x = 0; x < 120; ++x) ycrcb.at<cv::Vec3f>(y, x)[0] = rng.uniform(0.1f, 0.5f);
  }
  cv::Mat dark = RandomImage(90, 120, CV_32FC1, 4);
  const uchar* plane = dark.data;
  const cv::Mat t = EstimateNaturalTransmission(std::move(dark), ycrcb, 0.85f, 1.0f, LibraryEdgeFilters());
  EXPECT_EQ(t.data, plane);
  double lowest = 0.0, highest = 0.0;
  cv::minMaxLoc(t, &lowest, &highest);
  EXPECT_GE(lowest, 0.05 - 1e-4);
  EXPECT_LE(highest, 1.0);
}

}  // namespace
}  // namespace vantorel
