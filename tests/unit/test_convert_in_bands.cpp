// Conversions in parallel bands of rows give the whole picture's conversion, bit for bit:
// every byte under every normalising scale, and floats around every rounding boundary.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

#include <opencv2/core.hpp>

#include "imagedehaze/convert_in_bands.h"

namespace vantorel {
namespace {

bool SameBytes(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() &&
         std::memcmp(a.data, b.data, a.total() * a.elemSize()) == 0;
}

class ConvertInBandsTest : public ::testing::Test {
 protected:
  // Seven threads, so that there are bands even on a one-core machine.
  void SetUp() override { setenv("VANTOREL_THREADS", "7", 1); }
  void TearDown() override { unsetenv("VANTOREL_THREADS"); }
};

TEST_F(ConvertInBandsTest, EveryByteUnderEveryLargestSample) {
  cv::Mat bytes(601, 301, CV_8UC3);
  for (size_t i = 0; i < bytes.total() * 3; ++i) bytes.data[i] = static_cast<uchar>((i * 7) % 256);
  for (int largest = 1; largest <= 255; ++largest) {
    cv::Mat whole, banded;
    bytes.convertTo(whole, CV_32FC3, 1.0 / largest, 0.0);
    ConvertInBands(bytes, banded, CV_32FC3, 1.0 / largest);
    ASSERT_TRUE(SameBytes(whole, banded)) << "largest sample " << largest;
  }
}

TEST_F(ConvertInBandsTest, FloatsAroundEveryByteBoundary) {
  cv::Mat floats(777, 211, CV_32FC3);
  std::mt19937 rng(3);
  float* v = floats.ptr<float>();
  const size_t count = floats.total() * 3;
  for (size_t i = 0; i < count; ++i) {
    // (k + 0.5) / 255 and its neighbours, plus plain random values and the ends.
    const float boundary = static_cast<float>((rng() % 256 + 0.5) / 255.0);
    switch (i % 5) {
      case 0: v[i] = boundary; break;
      case 1: v[i] = std::nextafter(boundary, 0.0f); break;
      case 2: v[i] = std::nextafter(boundary, 1.0f); break;
      case 3: v[i] = static_cast<float>(rng()) / 4294967296.0f; break;
      default: v[i] = i % 2 ? 0.0f : 1.0f; break;
    }
  }
  cv::Mat whole, banded;
  floats.convertTo(whole, CV_8U, 255.0, 0.0);
  ConvertInBands(floats, banded, CV_8U, 255.0);
  EXPECT_TRUE(SameBytes(whole, banded));
}

}  // namespace
}  // namespace vantorel
