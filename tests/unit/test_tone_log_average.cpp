// The luminance's statistics are measured in parallel parts, a block at a time, with the
// logarithms summed in pixel order beside the next block: they must equal the plain
// in-order loops for any thread count and any number of blocks.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>

#include <opencv2/core.hpp>

#include "imagedehaze/tone_curve.h"

namespace vantorel {
namespace {

float PlainLogAverage(const cv::Mat& luminance) {
  float sum = 0.0f;
  const float* v = luminance.ptr<float>();
  for (size_t i = 0; i < luminance.total(); ++i) {
    sum = static_cast<float>(std::log(static_cast<double>(v[i]) + 0.0001) + static_cast<double>(sum));
  }
  return expf(sum / static_cast<float>(luminance.total()));
}

TEST(ToneStatistics, SameAsThePlainInOrderLoopsForAnyThreadsAndBlocks) {
  // One pixel, less than a block, exactly one block, and several blocks with a remainder.
  const cv::Size sizes[] = {{1, 1}, {300, 200}, {512, 512}, {1001, 733}};
  for (const cv::Size size : sizes) {
    cv::Mat luminance(size, CV_32FC1);
    cv::RNG(size.area()).fill(luminance, cv::RNG::UNIFORM, 0.0, 1.0);
    const float expected = PlainLogAverage(luminance);
    // The largest value and the levels, also past a NaN and a value above 1 in the last block.
    cv::Mat odd = luminance.clone();
    const size_t n = odd.total();
    odd.ptr<float>()[n / 2] = NAN;
    odd.ptr<float>()[n - 1] = 1.5f;
    float largest = 0.0f;
    std::array<int, kToneLevels> histogram{};
    for (size_t i = 0; i < n; ++i) {
      const float v = odd.ptr<float>()[i];
      if (v > largest) largest = v;
      ++histogram[ToneLevel(v, kToneLevels - 1)];
    }
    const std::string where = std::to_string(size.width) + " x " + std::to_string(size.height);
    for (const char* threads : {"1", "2", "3", "8"}) {
      setenv("VANTOREL_THREADS", threads, 1);
      EXPECT_EQ(expected, ComputeToneCurve(luminance).log_average) << where << ", " << threads << " threads";
      const LuminanceStatistics measured = MeasureLuminance(odd.ptr<float>(), n);
      EXPECT_EQ(measured.largest, largest) << where << ", " << threads << " threads";
      EXPECT_EQ(measured.histogram, histogram) << where << ", " << threads << " threads";
    }
    unsetenv("VANTOREL_THREADS");
  }
}

}  // namespace
}  // namespace vantorel
