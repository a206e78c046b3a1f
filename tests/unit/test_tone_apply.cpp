// The tone table applied eight samples at a time: every sample must take the entry of the
// level ToneLevel or DeepToneLevel gives it on its own, whatever its place in the row.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/core.hpp>

#include "imagedehaze/tone_apply.h"
#include "imagedehaze/tone_curve.h"

namespace vantorel {
namespace {

// Samples at and beside every kind of boundary: the half levels where the rounding turns,
// the table's top, 0 and 1, outside [0, 1], the infinities and NaN; then random values.
std::vector<float> AwkwardSamples(float largest_level) {
  std::vector<float> samples = {0.0f, -0.0f, 1.0f, -1e-9f, 2.0f, -3.0f, 1e30f, -1e30f,
                                std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                std::nanf(""), std::numeric_limits<float>::denorm_min()};
  for (const float level : {0.0f, 1.0f, 127.0f, 199.0f, 200.0f, 201.0f, 254.0f, 255.0f, 59999.0f, 60000.0f}) {
    const float half = (level + 0.5f) / largest_level;
    samples.push_back(std::nextafter(half, 0.0f));
    samples.push_back(half);
    samples.push_back(std::nextafter(half, 2.0f));
  }
  cv::RNG rng(5);
  for (int i = 0; i < 301; ++i) samples.push_back(rng.uniform(-0.1f, 1.1f));
  return samples;
}

void ExpectEveryEntryAsAlone(const ToneCurve& curve, float largest_level, int last, const float* table) {
  const std::vector<float> samples = AwkwardSamples(largest_level);
  // Three channels of an odd width: the samples fall on every lane and in the leftovers.
  const int cols = static_cast<int>(samples.size() + 2) / 3;
  cv::Mat image(2, cols, CV_32FC3, cv::Scalar::all(0.5));
  std::copy(samples.begin(), samples.end(), image.ptr<float>(1));
  const cv::Mat before = image.clone();
  cv::Mat toned = image.clone();
  ApplyToneTable(curve, toned);
  for (int y = 0; y < image.rows; ++y) {
    for (int i = 0; i < cols * 3; ++i) {
      const float v = before.ptr<float>(y)[i];
      const float expected = table[DeepToneLevel(v, largest_level, last)];
      ASSERT_EQ(toned.ptr<float>(y)[i], expected) << "row " << y << ", sample " << i << ": " << v;
    }
  }
}

TEST(ToneTable, EverySampleTakesTheEntryOfItsOwnLevel) {
  ToneCurve curve;
  curve.top = 200;
  for (int j = 0; j < kToneLevels; ++j) curve.table[j] = 1000.0f + static_cast<float>(j);
  for (const float v : {0.3f, 0.9f, std::nanf("")}) EXPECT_EQ(DeepToneLevel(v, 255.0f, 200), ToneLevel(v, 200));
  ExpectEveryEntryAsAlone(curve, 255.0f, curve.top, curve.table.data());

  curve.deep_levels = 65536;
  curve.deep_top = 60000;
  curve.deep_table.resize(65536);
  for (int j = 0; j < 65536; ++j) curve.deep_table[j] = static_cast<float>(j);
  ExpectEveryEntryAsAlone(curve, 65535.0f, curve.deep_top, curve.deep_table.data());
}

}  // namespace
}  // namespace vantorel
