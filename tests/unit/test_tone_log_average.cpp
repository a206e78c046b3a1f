// The luminance's statistics are measured in parallel parts, a block at a time, with the
// logarithms summed in pixel order beside the next block, and on one thread a short run at a
// time with the levels and the largest value taken four pixels at a time: they must equal
// the plain in-order loops for any thread count, any number of blocks and runs, and any
// value.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "filters/schedule.h"
#include "imagedehaze/luminance_run.h"
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

// The measure as one plain loop over the pixels, in their order.
LuminanceStatistics PlainStatistics(const float* values, size_t count, int channels) {
  LuminanceStatistics statistics;
  float sum = 0.0f;
  for (size_t i = 0; i < count; ++i) {
    const float v = channels == 3 ? LuminanceOf(values + 3 * i) : values[i];
    sum = static_cast<float>(std::log(static_cast<double>(v) + 0.0001) + static_cast<double>(sum));
    if (v > statistics.largest) statistics.largest = v;
    ++statistics.histogram[ToneLevel(v, kToneLevels - 1)];
  }
  statistics.log_average = expf(sum / static_cast<float>(count));
  return statistics;
}

// Bit for bit, so that a NaN equals the same NaN and -0 differs from 0.
bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void ExpectSameStatistics(const LuminanceStatistics& expected, const LuminanceStatistics& measured,
                          const std::string& where) {
  EXPECT_TRUE(SameBits(expected.log_average, measured.log_average))
      << where << ": log-average " << measured.log_average << ", expected " << expected.log_average;
  EXPECT_TRUE(SameBits(expected.largest, measured.largest))
      << where << ": largest " << measured.largest << ", expected " << expected.largest;
  EXPECT_EQ(expected.histogram, measured.histogram) << where;
}

// Values that the four-at-a-time levels and largest value must treat as one pixel at a time
// does: the ends of the unit range and just past them, the halfway points between levels
// (where the rounding decides), signed zeros, the smallest subnormal and values far outside.
std::vector<float> EdgeValues() {
  std::vector<float> values = {0.0f, -0.0f, 1.0f, std::nextafter(1.0f, 2.0f), std::nextafter(0.0f, 1.0f),
                               -std::nextafter(0.0f, 1.0f), 1.5f, -0.25f, 1e30f, -1e30f,
                               254.5f / 255.0f, std::nextafter(254.5f / 255.0f, 0.0f), 0.5f / 255.0f,
                               std::nextafter(0.5f / 255.0f, 0.0f)};
  // Every level's halfway point and the values on either side of it.
  for (int level = 0; level < kToneLevels; ++level) {
    const float half = (static_cast<float>(level) + 0.5f) / 255.0f;
    values.insert(values.end(), {std::nextafter(half, 0.0f), half, std::nextafter(half, 2.0f)});
  }
  return values;
}

// The same statistics from the runs as from the plain loop, for one-channel and BGR pixels,
// at counts on either side of the four-pixel groups, the runs and the parallel blocks, with
// the special values on every lane of a group, in the last group and in a run's remainder,
// on one thread and on several.
TEST(ToneStatistics, RunsMeasureAsThePlainLoopForEveryCountAndValue) {
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> edges = EdgeValues();
  const size_t counts[] = {1,
                           2,
                           3,
                           4,
                           5,
                           7,
                           kLuminanceRun - 1,
                           kLuminanceRun,
                           kLuminanceRun + 1,
                           3 * kLuminanceRun + 6,
                           kLogBlock + 3};
  for (const size_t count : counts) {
    for (const int channels : {1, 3}) {
      std::vector<float> values(count * channels);
      cv::RNG rng(static_cast<uint64_t>(count * channels));
      for (float& value : values) value = rng.uniform(0.0f, 1.0f);
      // Finite values: the sum stays finite, so its every rounding shows in the log-average.
      std::vector<float> finite = values;
      for (size_t i = 0; i < finite.size(); ++i) {
        if (i % 7 == 3 || i + 2 >= finite.size()) finite[i] = edges[(i * 13) % edges.size()];
      }
      // NaN, the infinities and negatives, whose logarithms are NaN or infinite.
      std::vector<float> odd = values;
      const float specials[] = {NAN, inf, -inf, -1.0f, -0.0f};
      for (size_t i = 0; i < odd.size(); ++i) {
        if (i % 5 == 1 || i + 1 == odd.size()) odd[i] = specials[(i / 5) % 5];
      }
      for (const std::vector<float>* picture : {&values, &finite, &odd}) {
        const LuminanceStatistics expected = PlainStatistics(picture->data(), count, channels);
        for (const char* threads : {"1", "2", "3"}) {
          setenv("VANTOREL_THREADS", threads, 1);
          const std::string where = std::to_string(count) + " pixels of " + std::to_string(channels) +
                                    " channels, picture " + std::to_string(picture - &values) + ", " +
                                    threads + " threads";
          ExpectSameStatistics(expected, MeasureLuminance(picture->data(), count, channels), where);
        }
        unsetenv("VANTOREL_THREADS");
      }
    }
  }
}

// A NaN or a negative value never becomes the largest, whichever lane of a group it is on and
// whatever comes after it: all of them measured as zero, one positive value wherever it is.
TEST(ToneStatistics, LargestPassesOverNaNOnEveryLane) {
  setenv("VANTOREL_THREADS", "1", 1);
  for (size_t at = 0; at < 9; ++at) {
    std::vector<float> values(9, NAN);
    for (size_t i = 0; i < values.size(); i += 2) values[i] = -2.0f;
    EXPECT_EQ(MeasureLuminance(values.data(), values.size()).largest, 0.0f);
    values[at] = 0.25f;
    EXPECT_EQ(MeasureLuminance(values.data(), values.size()).largest, 0.25f) << "at " << at;
  }
  unsetenv("VANTOREL_THREADS");
}

}  // namespace
}  // namespace vantorel
