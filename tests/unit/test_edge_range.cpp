// Channel ranges against a plain scan: every channel of interleaved images of odd sizes,
// with the extremes put in the vector blocks, in the row tails and at the corners.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "filters/edge_range.h"

namespace vantorel {
namespace {

template <typename T>
void PlainRange(const std::vector<T>& image, int32_t width, int32_t height, int channels, int k, T& lo, T& hi) {
  lo = hi = image[k];
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const T v = image[(static_cast<size_t>(y) * width + x) * channels + k];
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  }
}

TEST(EdgeRange, MatchesAPlainScanForEveryChannel) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> value(-3.0f, 3.0f);
  for (int round = 0; round < 120; ++round) {
    const int channels = 1 + round % 5;
    const int32_t width = 1 + static_cast<int32_t>(rng() % 90), height = 1 + static_cast<int32_t>(rng() % 40);
    std::vector<float> floats(static_cast<size_t>(width) * height * channels);
    std::vector<uint8_t> bytes(floats.size());
    for (size_t i = 0; i < floats.size(); ++i) {
      floats[i] = value(rng);
      bytes[i] = static_cast<uint8_t>(40 + rng() % 150);
    }
    // An outlier somewhere: a block, a row tail or a corner, depending on the draw.
    const size_t at = rng() % floats.size();
    floats[at] = round % 2 ? 1e6f : -1e6f;
    bytes[at] = round % 2 ? 255 : 0;
    for (int k = 0; k < channels; ++k) {
      float flo, fhi, plo, phi;
      FloatChannelRange(reinterpret_cast<const unsigned char*>(floats.data()), width * channels * sizeof(float),
                        channels, k, width, height, flo, fhi);
      PlainRange(floats, width, height, channels, k, plo, phi);
      EXPECT_EQ(plo, flo) << round << " channel " << k;
      EXPECT_EQ(phi, fhi) << round << " channel " << k;
      if (channels != 3) continue;
      uint8_t blo, bhi, qlo, qhi;
      ByteChannelRange(bytes.data(), width * channels, channels, k, width, height, blo, bhi);
      PlainRange(bytes, width, height, channels, k, qlo, qhi);
      EXPECT_EQ(qlo, blo) << round << " channel " << k;
      EXPECT_EQ(qhi, bhi) << round << " channel " << k;
    }
  }
}

TEST(EdgeRange, LargeImagesSplitOverThreadsGiveTheSameExtremes) {
  const int32_t width = 2000, height = 700;  // several tasks
  std::vector<float> floats(static_cast<size_t>(width) * height * 3, 0.5f);
  floats[(static_cast<size_t>(699) * width + 1999) * 3 + 1] = 7.0f;  // last pixel, channel 1
  floats[(static_cast<size_t>(350) * width + 3) * 3 + 1] = -2.0f;
  float lo, hi;
  FloatChannelRange(reinterpret_cast<const unsigned char*>(floats.data()), width * 3 * sizeof(float), 3, 1,
                    width, height, lo, hi);
  EXPECT_EQ(-2.0f, lo);
  EXPECT_EQ(7.0f, hi);
  FloatChannelRange(reinterpret_cast<const unsigned char*>(floats.data()), width * 3 * sizeof(float), 3, 2,
                    width, height, lo, hi);
  EXPECT_EQ(0.5f, lo);
  EXPECT_EQ(0.5f, hi);
}

}  // namespace
}  // namespace vantorel
