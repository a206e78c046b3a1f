// The airlight and the dark channel read from the source through the table of normalised
// levels: the table is what the normalisation writes, level by level, and both estimates
// are bit for bit those of the normalised picture, at 8 and 16 bits, for divisors that are
// not the picture's largest sample (a clip's), without a bright set, and on any thread
// count; so is the transmission the front stages make beside the YCrCb picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "band_rows.h"
#include "filters/schedule.h"
#include "imagedehaze/airlight.h"
#include "imagedehaze/edge_filters.h"
#include "imagedehaze/normalize.h"
#include "imagedehaze/recover_radiance.h"
#include "imagedehaze/transmission.h"
#include "imagedehaze/transmission_steps.h"
#include "test_pictures.h"
#include "vantorel/dehaze.h"

namespace vantorel {
namespace {

bool SameBits(const cv::Vec3f& a, const cv::Vec3f& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Samples in memory order run through every level of the depth, over and over, so that
// each level lies at several places within a vector of the conversion.
cv::Mat EveryLevel(int rows, int cols, int depth) {
  cv::Mat picture(rows, cols, CV_MAKETYPE(depth, 3));
  const int levels = depth == CV_8U ? 256 : 65536;
  const size_t samples = picture.total() * 3;
  for (size_t i = 0; i < samples; ++i) {
    const int level = static_cast<int>((i * 7 + i / levels) % levels);
    if (depth == CV_8U) {
      picture.data[i] = static_cast<uint8_t>(level);
    } else {
      reinterpret_cast<uint16_t*>(picture.data)[i] = static_cast<uint16_t>(level);
    }
  }
  return picture;
}

cv::Mat RandomSource(int rows, int cols, int depth, uint64_t seed) {
  cv::Mat picture(rows, cols, CV_MAKETYPE(depth, 3));
  cv::RNG(seed).fill(picture, cv::RNG::UNIFORM, 0, depth == CV_8U ? 256 : 65536);
  return picture;
}

// Every sample of the normalised picture against the table's entry for its level.
void ExpectTableIsTheNormalisation(const cv::Mat& source, double divisor) {
  const cv::Mat normalized = NormalizeByLargestSample(source, divisor);
  const cv::Mat levels = NormalizedLevels(source.depth(), divisor);
  ASSERT_EQ(levels.type(), CV_32FC1);
  ASSERT_EQ(levels.total(), source.depth() == CV_8U ? 256u : 65536u);
  const float* values = levels.ptr<float>(0);
  const float* got = normalized.ptr<float>(0);
  const size_t samples = source.total() * 3;
  size_t wrong = 0;
  for (size_t i = 0; i < samples; ++i) {
    const int level = source.depth() == CV_8U ? source.data[i] : reinterpret_cast<const uint16_t*>(source.data)[i];
    wrong += std::memcmp(&got[i], &values[level], sizeof(float)) != 0 ? 1 : 0;
  }
  EXPECT_EQ(wrong, 0u) << "divisor " << divisor;
  // What the estimates rely on to take a pixel's smallest value from its smallest level.
  for (size_t s = 1; s < levels.total(); ++s) ASSERT_LE(values[s - 1], values[s]) << "divisor " << divisor;
}

TEST(NormalizedLevels, EveryByteLevelIsWhatTheNormalisationWritesForEveryDivisor) {
  const cv::Mat every = EveryLevel(37, 91, CV_8U);
  const cv::Mat random = RandomSource(23, 45, CV_8U, 1);
  for (int largest = 1; largest <= 255; ++largest) {
    ExpectTableIsTheNormalisation(every, largest);
    ExpectTableIsTheNormalisation(random, largest);
  }
  // A clip's divisor, followed over frames, need not be a level; a smaller one than the
  // picture's largest sample gives values above 1.
  for (const double divisor : {0.75, 17.25, 200.0 / 3.0, 254.9}) ExpectTableIsTheNormalisation(every, divisor);
}

TEST(NormalizedLevels, EveryWordLevelIsWhatTheNormalisationWrites) {
  const cv::Mat every = EveryLevel(128, 171, CV_16U);
  for (const double divisor : {1.0, 2.0, 255.0, 256.0, 1023.0, 4095.0, 40000.0, 65534.0, 65535.0, 12345.678}) {
    ExpectTableIsTheNormalisation(every, divisor);
  }
  ExpectTableIsTheNormalisation(RandomSource(61, 67, CV_16U, 2), 65535.0);
}

// The airlight and the dark channel from the source against those of the normalised
// picture, at 1 and 2 threads: the same bits.
void ExpectSameFromSource(const cv::Mat& source, double divisor, const std::string& what) {
  const cv::Mat normalized = NormalizeByLargestSample(source, divisor);
  const cv::Mat levels = NormalizedLevels(source.depth(), divisor);
  const cv::Vec3f expected_airlight = EstimateAirlightCPU(normalized);
  const cv::Mat expected_dark = DarkChannel(normalized, expected_airlight);
  for (const int threads : {1, 2}) {
    const ScopedThreadCount count(threads);
    const cv::Vec3f airlight = EstimateAirlightFromSource(source, levels);
    EXPECT_TRUE(SameBits(airlight, expected_airlight))
        << what << ", " << threads << " threads: " << airlight << " against " << expected_airlight;
    cv::Mat dark;
    DarkChannelFromSource(source, levels, expected_airlight, dark);
    EXPECT_TRUE(SameBytes(dark, expected_dark)) << what << ", " << threads << " threads";
  }
}

// The largest sample, looked for in bands on the threads, wherever it lies: first sample,
// last sample, a middle channel of a middle row, or everywhere (a flat picture).
TEST(LargestSample, IsTheLargestSampleWhereverItLies) {
  for (const int depth : {CV_8U, CV_16U}) {
    const int top = depth == CV_8U ? 255 : 65535;
    const cv::Mat base = RandomSource(61, 37, depth, 3);
    cv::Mat scaled;
    base.convertTo(scaled, -1, 0.5);  // nothing above half the range
    const size_t samples = scaled.total() * 3;
    for (const size_t at : {size_t{0}, samples - 1, samples / 2 + 1}) {
      cv::Mat picture = scaled.clone();
      const int largest = top - 3;
      if (depth == CV_8U) {
        picture.data[at] = static_cast<uint8_t>(largest);
      } else {
        reinterpret_cast<uint16_t*>(picture.data)[at] = static_cast<uint16_t>(largest);
      }
      for (const int band_rows : {0, 1, 7}) {
        SetBandRowsForTesting(band_rows);
        for (const int threads : {1, 2, 3}) {
          const ScopedThreadCount count(threads);
          EXPECT_EQ(LargestSample(picture), largest) << "sample " << at << ", bands of " << band_rows << " rows, "
                                                      << threads << " threads";
        }
      }
      SetBandRowsForTesting(0);
    }
    const cv::Mat flat(5, 9, CV_MAKETYPE(depth, 3), cv::Scalar::all(17));
    EXPECT_EQ(LargestSample(flat), 17);
    EXPECT_EQ(LargestSample(cv::Mat::zeros(4, 4, CV_MAKETYPE(depth, 3))), 0);
  }
}

TEST(FrontFromSource, RandomPicturesGiveTheSameAirlightAndDarkChannel) {
  uint64_t seed = 10;
  for (const cv::Size size : {cv::Size(1, 1), cv::Size(7, 3), cv::Size(333, 257), cv::Size(521, 280)}) {
    for (const int depth : {CV_8U, CV_16U}) {
      const cv::Mat source = RandomSource(size.height, size.width, depth, ++seed);
      const std::string what = std::to_string(size.height) + "x" + std::to_string(size.width) +
                               (depth == CV_8U ? " bytes" : " words");
      ExpectSameFromSource(source, LargestSample(source), what);
      ExpectSameFromSource(source, LargestSample(source) * 0.9, what + ", smaller divisor");
      ExpectSameFromSource(source, LargestSample(source) * 1.3, what + ", larger divisor");
    }
  }
}

// Byte levels with small divisors make values of whole and half numbers, and bright
// pictures of 400 x 400 pixels push the sums past 2^23 and 2^24, where the floats lie 1
// and 2 apart: odd levels then fall exactly halfway between two of them (ties, which go
// to the even one), while the sums also cross binades. The byte estimate adds its sums a
// stretch at a time where it can; it must still give way wherever the chain would differ.
TEST(FrontFromSource, SumsThroughTiesAndBinadesGiveTheSameAirlight) {
  cv::Mat bright(400, 400, CV_8UC3);
  cv::RNG(21).fill(bright, cv::RNG::UNIFORM, 190, 256);
  for (const double divisor : {1.0, 2.0, 255.0}) {
    ExpectSameFromSource(bright, divisor, "bright, divisor " + std::to_string(divisor));
  }
  // A bright set of only part of the picture, between dark rows, at odd lengths.
  cv::Mat banded = bright(cv::Rect(0, 0, 397, 389)).clone();
  for (int y = 0; y < banded.rows; y += 3) banded.row(y).setTo(cv::Scalar(3, 200, 9));
  ExpectSameFromSource(banded, 1.0, "banded, divisor 1");
}

// A photo-like picture: dim haze with bright sky above, so that the bright set is a real
// part of the picture rather than about half of it.
TEST(FrontFromSource, HazySceneGivesTheSameAirlightAndDarkChannel) {
  for (const int depth : {CV_8U, CV_16U}) {
    const int top = depth == CV_8U ? 255 : 65535;
    cv::Mat source(300, 450, CV_MAKETYPE(depth, 3));
    cv::RNG rng(7);
    for (int y = 0; y < source.rows; ++y) {
      for (int x = 0; x < source.cols; ++x) {
        const double base = y < 80 ? 0.85 : 0.3 + 0.2 * x / source.cols;
        for (int c = 0; c < 3; ++c) {
          const double v = std::min(1.0, base + 0.05 * c + rng.uniform(-0.04, 0.04));
          if (depth == CV_8U) {
            source.at<cv::Vec3b>(y, x)[c] = cv::saturate_cast<uint8_t>(v * top);
          } else {
            source.at<cv::Vec3w>(y, x)[c] = cv::saturate_cast<uint16_t>(v * top);
          }
        }
      }
    }
    ExpectSameFromSource(source, LargestSample(source), depth == CV_8U ? "scene, bytes" : "scene, words");
  }
}

// No pixel above the mean of the smallest channels: the fallback, read from the source too.
TEST(FrontFromSource, PicturesWithoutABrightSetGiveTheSameFallback) {
  for (const int depth : {CV_8U, CV_16U}) {
    const double scale = depth == CV_8U ? 1.0 : 257.0;
    const cv::Mat uniform(13, 21, CV_MAKETYPE(depth, 3), cv::Scalar(100, 150, 200) * scale);
    ExpectSameFromSource(uniform, LargestSample(uniform), "uniform");
    const cv::Mat grey(13, 21, CV_MAKETYPE(depth, 3), cv::Scalar::all(90 * scale));
    ExpectSameFromSource(grey, LargestSample(grey), "grey");
    const cv::Mat single(1, 1, CV_MAKETYPE(depth, 3), cv::Scalar(0, 0, 255 * scale));
    ExpectSameFromSource(single, LargestSample(single), "one pixel");
    // Blue at 0 everywhere, the rest varied: every smallest channel is 0.
    cv::Mat blue_at_zero = RandomSource(40, 50, depth, 3);
    cv::Mat blue(blue_at_zero.size(), CV_MAKETYPE(depth, 1), cv::Scalar(0));
    cv::insertChannel(blue, blue_at_zero, 0);
    ExpectSameFromSource(blue_at_zero, LargestSample(blue_at_zero), "blue at 0");
    // The fallback's floor: a picture that is black but for its divisor (a clip's frame
    // gone black while the divisor still follows the earlier ones).
    const cv::Mat black(5, 6, CV_MAKETYPE(depth, 3), cv::Scalar::all(0));
    ExpectSameFromSource(black, 200.0 * scale, "black");
  }
}

// The transmission of the front stages (airlight and dark channel from the source, beside
// the YCrCb picture made band by band) against the stages written out one after another on
// the normalised picture, for bands of one row, a few rows and the schedule's, at 1, 2 and
// 3 threads.
template <typename Sample>
void ExpectTransmissionOfTheStagesInTurn(const cv::Mat& source, float thickness) {
  const cv::Mat normalized = NormalizeByLargestSample(source, LargestSample(source));
  cv::Mat ycrcb;
  cv::cvtColor(normalized, ycrcb, cv::COLOR_BGR2YCrCb, 0);
  const cv::Mat expected = EstimateTransmissionCPU(normalized, EstimateAirlightCPU(normalized), ycrcb,
                                                   TransmissionExponent(thickness));
  for (const int band_rows : {0, 1, 6}) {
    SetBandRowsForTesting(band_rows);
    for (const int threads : {1, 2, 3}) {
      SetThreadCount(threads);
      cv::Mat got(source.size(), CV_32FC1);
      const auto* samples = reinterpret_cast<const Sample*>(source.data);
      const bool done = sizeof(Sample) == 1
                            ? EstimateTransmissionMapCPU(reinterpret_cast<const unsigned char*>(samples), source.cols,
                                                         source.rows, thickness, got.ptr<float>(0))
                            : EstimateTransmissionMap16CPU(reinterpret_cast<const unsigned short*>(samples),
                                                           source.cols, source.rows, thickness, got.ptr<float>(0));
      ASSERT_TRUE(done);
      EXPECT_TRUE(SameBytes(got, expected)) << source.rows << "x" << source.cols << ", bands of " << band_rows
                                            << ", " << threads << " threads";
    }
  }
  SetThreadCount(0);
  SetBandRowsForTesting(0);
}

TEST(FrontFromSource, TransmissionIsThatOfTheStagesInTurn) {
  ExpectTransmissionOfTheStagesInTurn<uint8_t>(RandomSource(97, 143, CV_8U, 20), 0.9f);
  ExpectTransmissionOfTheStagesInTurn<uint8_t>(RandomSource(1, 40, CV_8U, 21), 0.5f);
  ExpectTransmissionOfTheStagesInTurn<uint8_t>(cv::Mat(9, 11, CV_8UC3, cv::Scalar(30, 60, 90)), 0.9f);
  ExpectTransmissionOfTheStagesInTurn<uint16_t>(RandomSource(61, 80, CV_16U, 22), 0.7f);
}

// The whole result against the stages written out one after another on whole pictures:
// the normalised picture, its YCrCb form (which the front stages make band by band from
// each band's own normalised copy), the transmission, the recovery, the bytes and the final
// filter; on 1 and 2 threads and with bands of one row.
TEST(FrontFromSource, WholeResultIsThatOfTheStagesInTurn) {
  for (const cv::Mat& source : {RandomSource(83, 129, CV_8U, 30), RandomSource(1, 57, CV_8U, 31)}) {
    const float thickness = 0.8f;
    const cv::Mat normalized = NormalizeByLargestSample(source, LargestSample(source));
    cv::Mat ycrcb;
    cv::cvtColor(normalized, ycrcb, cv::COLOR_BGR2YCrCb, 0);
    const cv::Vec3f airlight = EstimateAirlightCPU(normalized);
    const cv::Mat transmission =
        EstimateTransmissionCPU(normalized, airlight, ycrcb, TransmissionExponent(thickness));
    const cv::Mat recovered = RecoverRadianceCPU(ycrcb.clone(), airlight, transmission);
    cv::Mat bytes, expected;
    recovered.convertTo(bytes, CV_8U, 255.0, 0.0);
    LibraryEdgeFilters().bytes(bytes, expected, 4.0, 0.02);
    for (const int band_rows : {0, 1}) {
      SetBandRowsForTesting(band_rows);
      for (const int threads : {1, 2}) {
        SetThreadCount(threads);
        cv::Mat got = source.clone();
        ASSERT_TRUE(DehazeCPU(got.data, got.cols, got.rows, thickness));
        EXPECT_TRUE(SameBytes(got, expected))
            << source.rows << "x" << source.cols << ", bands of " << band_rows << ", " << threads << " threads";
      }
    }
    SetThreadCount(0);
    SetBandRowsForTesting(0);
  }
}

}  // namespace
}  // namespace vantorel
