// The logarithms of the tone curve's log-average are taken in parallel, a block at a time,
// then summed in pixel order; it must equal the plain in-order loop for any thread count
// and any number of blocks.
#include <gtest/gtest.h>

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

TEST(ToneLogAverage, SameAsThePlainInOrderSumForAnyThreadsAndBlocks) {
  // One pixel, less than a block, exactly one block, and several blocks with a remainder.
  const cv::Size sizes[] = {{1, 1}, {300, 200}, {512, 512}, {1001, 733}};
  for (const cv::Size size : sizes) {
    cv::Mat luminance(size, CV_32FC1);
    cv::RNG(size.area()).fill(luminance, cv::RNG::UNIFORM, 0.0, 1.0);
    const float expected = PlainLogAverage(luminance);
    for (const char* threads : {"1", "2", "3", "8"}) {
      setenv("VANTOREL_THREADS", threads, 1);
      EXPECT_EQ(expected, ComputeToneCurve(luminance).log_average)
          << size.width << " x " << size.height << ", " << threads << " threads";
    }
    unsetenv("VANTOREL_THREADS");
  }
}

}  // namespace
}  // namespace vantorel
