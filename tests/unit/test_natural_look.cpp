// The natural look: the tone table faded toward the identity by thickness / 3, and the
// input's chroma kept whole. The classic look is covered, unchanged, by the other tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "../tools/ciede2000.h"
#include "imagedehaze/auto_adjust.h"
#include "imagedehaze/dehaze.h"
#include "imagedehaze/tone_apply.h"
#include "imagedehaze/tone_curve.h"
#include "test_pictures.h"

namespace vantorel {
namespace {

// The classic ramp table has T[64] = 0.39713, T[128] = 0.66617, T[192] = 0.85812 and
// T[255] = 1; by hand, s * T[j] + (1 - s) * j / 255 at s = 0.3 and s = 1/3.
TEST(NaturalLook, RampTableFadesTowardTheIdentity) {
  struct Case {
    float strength;
    float at64, at128, at192;
  } cases[] = {{0.3f, 0.294825f, 0.551224f, 0.784495f},
               {1.0f / 3.0f, 0.299697f, 0.556697f, 0.788001f}};
  for (const Case& c : cases) {
    ToneCurve curve = ComputeToneCurve(Ramp200());
    FadeTowardIdentity(c.strength, curve);
    EXPECT_EQ(curve.table[0], 0.0f);
    EXPECT_NEAR(curve.table[64], c.at64, 1e-5) << c.strength;
    EXPECT_NEAR(curve.table[128], c.at128, 1e-5) << c.strength;
    EXPECT_NEAR(curve.table[192], c.at192, 1e-5) << c.strength;
    EXPECT_NEAR(curve.table[255], 1.0f, 1e-6) << c.strength;

    // The one-channel picture goes through that table: pixel 100 is on level 128.
    cv::Mat image = Ramp200();
    AutoAdjustCPU(image, ToneLook{true, c.strength});
    EXPECT_EQ(image.at<float>(0, 100), curve.table[128]) << c.strength;
  }
}

TEST(NaturalLook, KeepsTheInputsChromaAndGreyStaysGrey) {
  cv::Mat colour = RandomImage(37, 53, CV_32FC3, 11);
  for (int x = 0; x < colour.cols; ++x) {  // first row grey, from black to white
    const float v = static_cast<float>(x) / static_cast<float>(colour.cols - 1);
    colour.at<cv::Vec3f>(0, x) = cv::Vec3f(v, v, v);
  }
  cv::Mat natural = colour.clone(), classic = colour.clone();
  AutoAdjustCPU(natural, ToneLook{true, 0.3f});
  AutoAdjustCPU(classic);

  cv::Mat input_ycrcb, natural_ycrcb, classic_ycrcb;
  cv::cvtColor(colour, input_ycrcb, cv::COLOR_BGR2YCrCb);
  cv::cvtColor(natural, natural_ycrcb, cv::COLOR_BGR2YCrCb);
  cv::cvtColor(classic, classic_ycrcb, cv::COLOR_BGR2YCrCb);
  double classic_shift = 0.0;
  for (int y = 0; y < colour.rows; ++y) {
    for (int x = 0; x < colour.cols; ++x) {
      const cv::Vec3f in = input_ycrcb.at<cv::Vec3f>(y, x), out = natural_ycrcb.at<cv::Vec3f>(y, x);
      // Up to the float conversions: back to BGR and once more to YCrCb, whose rounded
      // coefficients are not exact inverses of each other (about 3e-4 of the chroma).
      ASSERT_NEAR(out[1], in[1], 3e-4) << y << "," << x;
      ASSERT_NEAR(out[2], in[2], 3e-4) << y << "," << x;
      classic_shift = std::max(classic_shift, double(std::abs(classic_ycrcb.at<cv::Vec3f>(y, x)[1] - in[1])));
    }
  }
  EXPECT_GT(classic_shift, 0.01);  // the classic look does move colours: the check has teeth
  for (int x = 0; x < colour.cols; ++x) {
    const cv::Vec3f p = natural.at<cv::Vec3f>(0, x);
    ASSERT_NEAR(p[0], p[1], 2e-6) << x;
    ASSERT_NEAR(p[1], p[2], 2e-6) << x;
  }
}

TEST(NaturalLook, ChromaStepTakesTheInputsCrAndCbAndKeepsTheTonedY) {
  const cv::Mat input = RandomImage(5, 9, CV_32FC3, 3);
  cv::Mat toned = RandomImage(5, 9, CV_32FC3, 4);
  const cv::Mat toned_before = toned.clone();
  TakeInputChroma(input, toned);
  for (int y = 0; y < toned.rows; ++y) {
    for (int x = 0; x < toned.cols; ++x) {
      const cv::Vec3f in = input.at<cv::Vec3f>(y, x), out = toned.at<cv::Vec3f>(y, x);
      EXPECT_EQ(out[0], toned_before.at<cv::Vec3f>(y, x)[0]);
      EXPECT_EQ(out[1], in[1]);
      EXPECT_EQ(out[2], in[2]);
    }
  }
}

TEST(NaturalLook, ColourDifferenceChecksAgainstPublishedPairs) {
  EXPECT_NEAR(Ciede2000({50.0, 2.6772, -79.7751}, {50.0, 0.0, -82.7485}), 2.0425, 1e-4);
  EXPECT_NEAR(Ciede2000({50.0, 2.5, 0.0}, {73.0, 25.0, -18.0}), 27.1492, 1e-4);
  EXPECT_NEAR(Ciede2000({2.0776, 0.0795, -1.135}, {0.9033, -0.0636, -0.5514}), 0.9082, 1e-4);
}

// Every third pixel of every third row: the mean difference of 180 000 pixels.
cv::Mat EveryThird(const cv::Mat& bgr) {
  cv::Mat sampled((bgr.rows + 2) / 3, (bgr.cols + 2) / 3, CV_8UC3);
  for (int y = 0; y < sampled.rows; ++y) {
    for (int x = 0; x < sampled.cols; ++x) sampled.at<cv::Vec3b>(y, x) = bgr.at<cv::Vec3b>(3 * y, 3 * x);
  }
  return sampled;
}

TEST(NaturalLook, OnTheSampleTheChangeGrowsWithThickness) {
  const cv::Mat sample = cv::imread(std::string(VANTOREL_SOURCE_DIR) + "/samples/hazy_mountains.jpg",
                                    cv::IMREAD_COLOR);
  ASSERT_FALSE(sample.empty());
  DehazeOptions options;
  options.look = Look::kNatural;
  double previous = 0.0;
  for (const float thickness : {0.1f, 0.3f, 0.5f, 0.7f, 0.9f, 1.0f}) {
    cv::Mat result = sample.clone();
    ASSERT_TRUE(DehazeCPU(result.data, result.cols, result.rows, thickness, options));
    const double difference = MeanCiede2000(EveryThird(sample), EveryThird(result));
    RecordProperty("ciede2000_at_" + std::to_string(thickness), std::to_string(difference));
    if (thickness == 0.1f) {
      EXPECT_LT(difference, 3.0);
    }
    EXPECT_GT(difference, previous) << "thickness " << thickness;
    previous = difference;
  }
}

}  // namespace
}  // namespace vantorel
