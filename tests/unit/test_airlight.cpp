// Airlight: bright-pixel selection, saturation limit, scaling to the picture's maximum,
// and the fallback for pictures without a bright set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/core.hpp>

#include "imagedehaze/airlight.h"

namespace vantorel {
namespace {

cv::Mat Picture(const std::vector<cv::Vec3f>& pixels, int cols) {
  const int rows = static_cast<int>(pixels.size()) / cols;
  cv::Mat img(rows, cols, CV_32FC3);
  for (int i = 0; i < rows * cols; ++i) img.at<cv::Vec3f>(i / cols, i % cols) = pixels[i];
  return img;
}

// One bright pixel of `colour` and one pixel with a channel at 0 (never bright) that holds
// the picture's maximum in red.
cv::Mat BrightPixelBesideDarkOne(const cv::Vec3f& colour, float maximum = 1.0f) {
  return Picture({colour, cv::Vec3f(0.0f, 0.0f, maximum)}, 2);
}

void ExpectColourNear(const cv::Vec3f& got, const cv::Vec3f& want, float tolerance) {
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], tolerance) << "channel " << c;
}

void ExpectFinitePositive(const cv::Vec3f& airlight) {
  for (int c = 0; c < 3; ++c) {
    EXPECT_TRUE(std::isfinite(airlight[c])) << "channel " << c;
    EXPECT_GT(airlight[c], 0.0f) << "channel " << c;
  }
}

TEST(Airlight, ModerateSpreadIsOnlyScaledSoTheLargestComponentIsTheMaximum) {
  const cv::Vec3f a = EstimateAirlightCPU(BrightPixelBesideDarkOne({0.6f, 0.7f, 0.8f}));
  ExpectColourNear(a, {0.75f, 0.875f, 1.0f}, 1e-6f);
  EXPECT_EQ(a[2], 1.0f);
}

TEST(Airlight, SpreadAboveOneHalfIsShrunkToOneHalfAroundTheMean) {
  // k = 0.625, avg = 0.4: (0.2125, 0.275, 0.7125), then divided by the original 0.9.
  const cv::Vec3f a = EstimateAirlightCPU(BrightPixelBesideDarkOne({0.1f, 0.2f, 0.9f}));
  ExpectColourNear(a, {0.23611f, 0.30556f, 0.79167f}, 1e-5f);
  EXPECT_NEAR(a[2] - a[0], 0.5f / 0.9f, 1e-6f);
}

TEST(Airlight, SpreadOfExactlyOneHalfIsLeftAlone) {
  ASSERT_EQ(0.8f - 0.3f, 0.5f);
  const cv::Vec3f a = EstimateAirlightCPU(BrightPixelBesideDarkOne({0.3f, 0.5f, 0.8f}));
  ExpectColourNear(a, {0.375f, 0.625f, 1.0f}, 1e-6f);
}

TEST(Airlight, GreyBrightRegionGivesThreeComponentsEqualToTheMaximum) {
  // The maximum 0.9 sits in the dark pixel, so the scaling by maximum / largest shows.
  const float maximum = 0.9f;
  const cv::Mat img = Picture({{0.4f, 0.4f, 0.4f}, {0.4f, 0.4f, 0.4f}, {0.0f, 0.0f, maximum}}, 3);
  const cv::Vec3f a = EstimateAirlightCPU(img);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(a[c], maximum) << "channel " << c;
}

TEST(Airlight, PixelWhoseMinimumEqualsTheMeanDoesNotCount) {
  // Minima 0.25, 0.5, 0.75: the mean is exactly 0.5, so only the last pixel is bright.
  // Counting the middle one too would give (0.75, 0.625, 0.875) / 0.875.
  const cv::Mat img = Picture({{0.25f, 1.0f, 0.25f}, {0.5f, 0.5f, 1.0f}, {1.0f, 0.75f, 0.75f}}, 3);
  const cv::Vec3f a = EstimateAirlightCPU(img);
  EXPECT_EQ(a, cv::Vec3f(1.0f, 0.75f, 0.75f));
}

TEST(Airlight, SingleBrightPixelAmongManyGivesItsColourDesaturatedAndScaled) {
  std::vector<cv::Vec3f> pixels(100, cv::Vec3f(0.0f, 0.5f, 1.0f));
  pixels[57] = cv::Vec3f(0.2f, 0.3f, 0.9f);
  const cv::Vec3f a = EstimateAirlightCPU(Picture(pixels, 10));
  // k = 0.5 / 0.7, avg = 1.4 / 3; each component k c + (1 - k) avg, divided by 0.9.
  const double k = 0.5 / 0.7, shift = (1.0 - k) * 1.4 / 3.0;
  ExpectColourNear(a, cv::Vec3f(static_cast<float>((k * 0.2 + shift) / 0.9),
                                static_cast<float>((k * 0.3 + shift) / 0.9),
                                static_cast<float>((k * 0.9 + shift) / 0.9)),
                   1e-5f);
}

TEST(Airlight, BrightSetIsAveragedOverAllItsPixels) {
  // Two bright pixels, the mean of the minima lies between them and the dark ones.
  const cv::Mat img = Picture({{0.5f, 0.6f, 0.7f}, {0.7f, 0.8f, 0.9f}, {0.0f, 0.1f, 1.0f}, {0.0f, 0.2f, 0.3f}}, 2);
  const cv::Vec3f a = EstimateAirlightCPU(img);
  ExpectColourNear(a, {0.6f / 0.8f, 0.7f / 0.8f, 1.0f}, 1e-6f);
}

TEST(Airlight, UniformPictureWithMaximumOneGivesItsOwnColour) {
  for (const cv::Vec3f& colour : {cv::Vec3f(0.5f, 0.75f, 1.0f), cv::Vec3f(0.7f, 0.7f, 0.7f)}) {
    const cv::Mat img(37, 23, CV_32FC3, cv::Scalar(colour[0], colour[1], colour[2]));
    const cv::Vec3f a = EstimateAirlightCPU(img);
    ExpectFinitePositive(a);
    ExpectColourNear(a, colour, 1e-6f);
  }
}

TEST(Airlight, ChannelThatIsZeroEverywhereGetsASmallPositiveComponent) {
  // Every minimum is 0, so there is no bright pixel; the blue mean is 0 and the spread of
  // 0.4 is too small for the desaturation to lift it.
  cv::Mat img(8, 8, CV_32FC3);
  for (int i = 0; i < 64; ++i) img.at<cv::Vec3f>(i / 8, i % 8) = cv::Vec3f(0.0f, (i % 5) / 10.0f, 0.4f);
  const cv::Vec3f a = EstimateAirlightCPU(img);
  ExpectFinitePositive(a);
  EXPECT_LT(a[0], 0.01f);
  EXPECT_NEAR(a[1], 12.6f / 64.0f, 1e-6f);
  EXPECT_EQ(a[2], 0.4f);
}

TEST(Airlight, ChannelThatIsZeroEverywhereIsLiftedByAStrongSpread) {
  // Mean colour (0, 0.4, 0.9): the desaturation alone makes blue positive.
  const cv::Mat img(3, 3, CV_32FC3, cv::Scalar(0.0, 0.4, 0.9));
  const cv::Vec3f a = EstimateAirlightCPU(img);
  // k = 0.5 / 0.9, avg = 1.3 / 3, divided by 0.9 and scaled by 0.9.
  const double k = 0.5 / 0.9, shift = (1.0 - k) * 1.3 / 3.0;
  ExpectColourNear(a, cv::Vec3f(static_cast<float>(shift), static_cast<float>(k * 0.4 + shift),
                                static_cast<float>(k * 0.9 + shift)),
                   1e-6f);
}

TEST(Airlight, ZeroInDifferentChannelsKeepsTheMeanColourOfThePicture) {
  // Every pixel has a channel at 0, but no channel is 0 everywhere: no floor is needed.
  const cv::Mat img = Picture({{0.0f, 1.0f, 0.5f}, {0.5f, 0.0f, 1.0f}, {1.0f, 0.5f, 0.0f}, {0.5f, 0.5f, 0.0f}}, 2);
  const cv::Vec3f a = EstimateAirlightCPU(img);
  // Mean colour (0.5, 0.5, 0.375), scaled by 1 / 0.5.
  ExpectColourNear(a, {1.0f, 1.0f, 0.75f}, 1e-6f);
}

TEST(Airlight, PictureWithoutLightGivesAFiniteGreyAirlight) {
  const cv::Vec3f a = EstimateAirlightCPU(cv::Mat(4, 5, CV_32FC3, cv::Scalar::all(0.0)));
  ExpectFinitePositive(a);
  EXPECT_EQ(a[0], a[1]);
  EXPECT_EQ(a[1], a[2]);
}

TEST(Airlight, InputIsNotModified) {
  cv::Mat img(6, 7, CV_32FC3);
  cv::randu(img, 0.0f, 1.0f);
  const cv::Mat before = img.clone();
  EstimateAirlightCPU(img);
  EXPECT_EQ(cv::norm(img, before, cv::NORM_INF), 0.0);
}

}  // namespace
}  // namespace vantorel

namespace vantorel {
namespace {

// The bright set's mean colour and the picture's maximum written the straightforward way
// (a full map of minima, the library's maximum), against the estimate's one-pass maximum
// and recomputed minima: the same colour bit for bit, through the same limit and scaling.
TEST(Airlight, SameAsAMapOfMinimaAndTheLibraryMaximum) {
  for (const cv::Size size : {cv::Size(1, 1), cv::Size(7, 3), cv::Size(333, 257)}) {
    cv::Mat img(size, CV_32FC3);
    cv::RNG(size.area()).fill(img, cv::RNG::UNIFORM, 0.0, 1.0);
    double maximum = 0.0;
    cv::minMaxLoc(img.reshape(1), nullptr, &maximum);
    std::vector<float> minima(img.total());
    float sum = 0.0f;
    for (size_t i = 0; i < minima.size(); ++i) {
      const cv::Vec3f p = img.at<cv::Vec3f>(static_cast<int>(i));
      minima[i] = std::min(std::min(p[0], p[1]), p[2]);
      sum += minima[i];
    }
    const float mean = sum / static_cast<float>(minima.size());
    cv::Vec3f colour(0.0f, 0.0f, 0.0f);
    int bright = 0;
    for (size_t i = 0; i < minima.size(); ++i) {
      if (!(minima[i] > mean)) continue;
      colour += img.at<cv::Vec3f>(static_cast<int>(i));
      ++bright;
    }
    if (bright == 0) continue;  // the fallback has its own tests
    for (int c = 0; c < 3; ++c) colour[c] /= static_cast<float>(bright);
    // A picture whose maximum is that colour's largest component: no scaling, no spread
    // limit below 0.5, so the estimate must return the mean colour itself, scaled by
    // maximum / largest, which the picture's own maximum gives.
    const float hi = std::max(std::max(colour[0], colour[1]), colour[2]);
    const float lo = std::min(std::min(colour[0], colour[1]), colour[2]);
    ASSERT_LE(hi - lo, 0.5f);
    cv::Vec3f expected;
    for (int c = 0; c < 3; ++c) expected[c] = static_cast<float>(static_cast<double>(colour[c] / hi) * maximum);
    EXPECT_EQ(EstimateAirlightCPU(img), expected) << size;
  }
}

}  // namespace
}  // namespace vantorel
