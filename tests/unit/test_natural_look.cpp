// The natural look: the tone table faded toward the identity by thickness / 3, the input's
// chroma kept whole, the change from the input growing with the thickness, no glow on fog,
// dim photos left dim. The classic look is covered, unchanged, by the other tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "../tools/ciede2000.h"
#include "../tools/fog_scene.h"
#include "imagedehaze/auto_adjust.h"
#include "imagedehaze/dehaze.h"
#include "imagedehaze/pipeline.h"
#include "imagedehaze/tone_apply.h"
#include "imagedehaze/tone_curve.h"
#include "band_rows.h"
#include "reference_filters.h"
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

cv::Mat NaturalResult(const cv::Mat& picture, float thickness) {
  DehazeOptions options;
  options.look = Look::kNatural;
  cv::Mat result = picture.clone();
  EXPECT_TRUE(DehazeCPU(result.data, result.cols, result.rows, thickness, options));
  return result;
}

// The sample at 480 pixels wide (the look's sizes follow the picture, so a small copy
// behaves as the photo does), and a dim copy of it, every sample times 0.6.
std::vector<std::pair<std::string, cv::Mat>> SmallSampleAndDimCopy() {
  const cv::Mat sample = cv::imread(std::string(VANTOREL_SOURCE_DIR) + "/samples/hazy_mountains.jpg",
                                    cv::IMREAD_COLOR);
  EXPECT_FALSE(sample.empty());
  if (sample.empty()) return {};
  cv::Mat small, dim;
  cv::resize(sample, small, cv::Size(480, sample.rows * 480 / sample.cols), 0, 0, cv::INTER_AREA);
  small.convertTo(dim, CV_8U, 0.6);
  return {{"sample", small}, {"dim copy", dim}};
}

TEST(NaturalLook, ChangeGrowsWithThicknessAndStaysSmallAtATenth) {
  for (const auto& [name, picture] : SmallSampleAndDimCopy()) {
    double previous = 0.0;
    for (const float thickness : {0.1f, 0.3f, 0.6f, 0.9f}) {
      const double difference = MeanCiede2000(picture, NaturalResult(picture, thickness));
      RecordProperty(name + " ciede2000 at " + std::to_string(thickness), std::to_string(difference));
      if (thickness == 0.1f) {
        EXPECT_LE(difference, 2.5) << name;
      }
      EXPECT_GT(difference, previous) << name << " at thickness " << thickness;
      previous = difference;
    }
  }
}

TEST(NaturalLook, DimPhotoKeepsItsRange) {
  // Classic stretches the largest sample to 255; natural writes back on the input's scale.
  cv::Mat dim = SmallSampleAndDimCopy().at(1).second;
  double input_largest = 0.0, natural_largest = 0.0, classic_largest = 0.0;
  cv::minMaxLoc(dim.reshape(1), nullptr, &input_largest);
  cv::minMaxLoc(NaturalResult(dim, 0.6f).reshape(1), nullptr, &natural_largest);
  cv::Mat classic = dim.clone();
  ASSERT_TRUE(DehazeCPU(classic.data, classic.cols, classic.rows, 0.6f));
  cv::minMaxLoc(classic.reshape(1), nullptr, &classic_largest);
  EXPECT_LE(natural_largest, input_largest);
  EXPECT_GT(classic_largest, input_largest + 40.0);
}

TEST(NaturalLook, SmoothFogIsNotBlownIntoAGlow) {
  const cv::Mat fog = FogScene(360, 540);
  for (const float thickness : {0.6f, 0.9f, 1.0f}) {
    const double natural = LargestFogBrightening(fog, NaturalResult(fog, thickness));
    cv::Mat classic = fog.clone();
    ASSERT_TRUE(DehazeCPU(classic.data, classic.cols, classic.rows, thickness));
    RecordProperty("natural brightening at " + std::to_string(thickness), std::to_string(natural));
    RecordProperty("classic brightening at " + std::to_string(thickness),
                   std::to_string(LargestFogBrightening(fog, classic)));
    EXPECT_LE(natural, 15.0) << "thickness " << thickness;
  }
}

// The natural look through the straightforward filters gives the same bytes, for any
// thread count and band size: its larger smoothing sizes take the same fast paths.
TEST(NaturalLook, SameBytesAsTheReferenceFiltersForAnyThreadCount) {
  DehazeOptions options;
  options.look = Look::kNatural;
  const cv::Mat pictures[] = {FogScene(130, 170), RandomImage(70, 65, CV_8UC3, 12),
                              FogScene(1, 90)};
  for (const cv::Mat& picture : pictures) {
    setenv("VANTOREL_THREADS", "1", 1);
    cv::Mat expected = picture.clone();
    ASSERT_TRUE(RunPipeline(expected.data, expected.cols, expected.rows, 0.8f, options,
                            ReferenceEdgeFilters()));
    for (const int band_rows : {1, 7, 0}) {
      SetBandRowsForTesting(band_rows);
      for (const char* threads : {"1", "3"}) {
        setenv("VANTOREL_THREADS", threads, 1);
        EXPECT_TRUE(SameBytes(NaturalResult(picture, 0.8f), expected))
            << picture.rows << "x" << picture.cols << ", " << threads << " threads, bands " << band_rows;
      }
    }
  }
  SetBandRowsForTesting(0);
  unsetenv("VANTOREL_THREADS");
}

TEST(NaturalLook, TransmissionOptionReceivesTheNaturalMap) {
  const cv::Mat fog = FogScene(60, 80);
  std::vector<float> natural(fog.total()), classic(fog.total());
  DehazeOptions options;
  options.look = Look::kNatural;
  options.transmission = natural.data();
  cv::Mat work = fog.clone();
  ASSERT_TRUE(DehazeCPU(work.data, work.cols, work.rows, 0.9f, options));
  ASSERT_TRUE(EstimateTransmissionMapCPU(fog.data, fog.cols, fog.rows, 0.9f, classic.data()));
  EXPECT_NE(natural, classic);
  EXPECT_GE(*std::min_element(natural.begin(), natural.end()), 0.0f);
  EXPECT_LE(*std::max_element(natural.begin(), natural.end()), 1.0f);
}

}  // namespace
}  // namespace vantorel
