// The 16-bit path of the engine: the final 16-bit filter against its straightforward
// reference byte for byte, the deep tone table against the 8-bit one, and the whole 16-bit
// pipeline against its reference path and against the 8-bit result it refines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "filters/bilateral_filters.h"
#include "filters/cpu_features.h"
#include "band_rows.h"
#include "filters/grid_row_kernels.h"
#include "filters/schedule.h"
#include "imagedehaze/auto_adjust.h"
#include "imagedehaze/dehaze.h"
#include "imagedehaze/tone_curve.h"
#include "reference_filters.h"
#include "test_pictures.h"

namespace vantorel {
namespace {

// Smooth regions of different levels with edges between them and noise of a few hundred
// 16-bit levels, so that both the grid's cells and its range axis matter.
cv::Mat DeepScene(int rows, int cols, uint64_t seed) {
  cv::Mat m(rows, cols, CV_16UC3);
  cv::RNG rng(seed);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) {
      const int band = (x * 3 / std::max(cols, 1) + y * 2 / std::max(rows, 1)) % 3;
      for (int k = 0; k < 3; ++k) {
        m.at<cv::Vec3w>(y, x)[k] =
            cv::saturate_cast<ushort>(15000 + 15000 * band + 9000 * k + x * 37 + rng.uniform(-700, 701));
      }
    }
  }
  return m;
}

cv::Mat RandomWords(int rows, int cols, int lo, int hi, uint64_t seed) {
  cv::Mat m(rows, cols, CV_16UC3);
  cv::RNG rng(seed);
  rng.fill(m, cv::RNG::UNIFORM, lo, hi + 1);
  return m;
}

struct Size {
  int rows, cols;
};
const Size kSizes[] = {{1, 1}, {1, 7}, {9, 1}, {17, 23}, {64, 129}, {131, 97}, {333, 45}};

TEST(DeepFilter, MatchesTheReferenceForEverySizeThreadCountAndBand) {
  uint64_t seed = 300;
  for (const Size s : kSizes) {
    // Full range noise, a narrow range (few levels per cell), and a scene.
    const cv::Mat pictures[] = {RandomWords(s.rows, s.cols, 0, 65535, ++seed),
                                RandomWords(s.rows, s.cols, 30000, 30400, ++seed), DeepScene(s.rows, s.cols, ++seed)};
    for (const cv::Mat& picture : pictures) {
      cv::Mat reference;
      Bilateral16UC3ReferenceCPU(picture, reference, 4.0, 0.02);
      ASSERT_EQ(reference.type(), CV_16UC3);
      for (const char* threads : {"1", "2", "5"}) {
        setenv("VANTOREL_THREADS", threads, 1);
        for (const int band_rows : {0, 1, 7}) {
          SetBandRowsForTesting(band_rows);
          cv::Mat fast;
          Bilateral16UC3CPU(picture, fast, 4.0, 0.02);
          EXPECT_TRUE(SameBytes(fast, reference))
              << s.rows << "x" << s.cols << " threads " << threads << " bands " << band_rows;
          cv::Mat in_place = picture.clone();
          Bilateral16UC3CPU(in_place, in_place, 4.0, 0.02);
          EXPECT_TRUE(SameBytes(in_place, reference))
              << s.rows << "x" << s.cols << " in place, threads " << threads << " bands " << band_rows;
        }
      }
      SetBandRowsForTesting(0);
      unsetenv("VANTOREL_THREADS");
    }
  }
}

TEST(DeepFilter, ConstantChannelsComeBackUnchangedAndChannelsStayApart) {
  cv::Mat flat(40, 37, CV_16UC3, cv::Scalar(0, 257 * 100 + 3, 65535));
  cv::Mat out;
  Bilateral16UC3CPU(flat, out, 4.0, 0.02);
  EXPECT_TRUE(SameBytes(out, flat));

  // Changing channel 1 leaves channels 0 and 2 of the result as they were.
  const cv::Mat picture = DeepScene(50, 61, 9);
  cv::Mat changed = picture.clone();
  for (int y = 0; y < changed.rows; ++y) changed.at<cv::Vec3w>(y, y % changed.cols)[1] = 0;
  cv::Mat a, b;
  Bilateral16UC3CPU(picture, a, 4.0, 0.02);
  Bilateral16UC3CPU(changed, b, 4.0, 0.02);
  cv::Mat a_planes[3], b_planes[3];
  cv::split(a, a_planes);
  cv::split(b, b_planes);
  EXPECT_TRUE(SameBytes(a_planes[0], b_planes[0]));
  EXPECT_TRUE(SameBytes(a_planes[2], b_planes[2]));
  EXPECT_FALSE(SameBytes(a_planes[1], b_planes[1]));
}

TEST(DeepFilter, EveryWordSurvivesTheRoundTripAndWrongTypesAreRefused) {
  // Each 16-bit level alone in its picture: level / 65535 * 65535 + 0.5 truncates to it.
  for (int level = 0; level < 65536; level += 251) {
    cv::Mat one(1, 1, CV_16UC3, cv::Scalar(level, 65535 - level, level / 2));
    cv::Mat out;
    Bilateral16UC3CPU(one, out, 4.0, 0.02);
    ASSERT_TRUE(SameBytes(out, one)) << "level " << level;
  }
  cv::Mat bytes(4, 4, CV_8UC3, cv::Scalar::all(9)), out;
  EXPECT_THROW(Bilateral16UC3CPU(bytes, out, 4.0, 0.02), cv::Exception);
}

__attribute__((target("avx2"))) void StoreFourWords(const WordsOfRow& out, const double* values) {
  out.Four(0, _mm256_loadu_pd(values));
}

// Results right at the 16-bit rounding boundary, and the cap at 65535.
TEST(DeepFilter, WordStoresRoundHalvesUpLikeThePlainCode) {
  if (!HasAvx2()) GTEST_SKIP() << "no AVX2 here: only the plain code runs";
  std::vector<uint16_t> plain(4), vector(4);
  const WordsOfRow plain_out{plain.data(), 1}, vector_out{vector.data(), 1};
  for (int level = 0; level < 65536; level += 97) {
    const double half = (level + 0.5) / 65535.0;
    const double values[4] = {half, std::nextafter(half, 0.0), std::nextafter(half, 2.0), level / 65535.0};
    for (int k = 0; k < 4; ++k) plain_out.One(k, values[k]);
    StoreFourWords(vector_out, values);
    ASSERT_EQ(plain, vector) << "level " << level;
  }
  plain_out.One(0, 1.0001);
  EXPECT_EQ(plain[0], 65535);
}

// The deep table is the same curve: evaluated at 256 levels it is the 8-bit table entry
// for entry, and at 65536 levels its entry for 16-bit level 257 j is the 8-bit entry j up to
// the rounding of a different step and top.
TEST(DeepToneTable, IsTheByteTableAtItsOwnLevels) {
  const cv::Mat picture = RandomImage(90, 70, CV_32FC3, 77);
  for (const bool natural : {false, true}) {
    ToneCurve curve = ComputeToneCurve(picture);
    ASSERT_TRUE(curve.stretchable);
    ToneCurve same = curve, deep = curve;
    DeepenToneCurve(256, natural, 0.3f, same);
    DeepenToneCurve(65536, natural, 0.3f, deep);
    if (natural) FadeTowardIdentity(0.3f, curve);
    ASSERT_EQ(same.deep_top, curve.top);
    for (int j = 0; j <= curve.top; ++j) EXPECT_EQ(same.deep_table[j], curve.table[j]) << j;
    ASSERT_EQ(deep.deep_levels, 65536);
    ASSERT_GE(deep.deep_top, (curve.top - 1) * 257);
    for (int j = 0; j < curve.top; ++j) EXPECT_NEAR(deep.deep_table[j * 257], curve.table[j], 2e-3) << j;
    // No steps: the table rises through many distinct values where the 8-bit one has few.
    std::set<float> distinct(deep.deep_table.begin() + 20000, deep.deep_table.begin() + 20000 + 2570);
    EXPECT_GT(distinct.size(), 1000u);
  }
}

TEST(DeepToneTable, AutoAdjustAtSixteenBitLevelsStaysCloseToTheByteTable) {
  const cv::Mat picture = RandomImage(64, 64, CV_32FC3, 5);
  cv::Mat bytes_look = picture.clone(), deep_look = picture.clone();
  AutoAdjustCPU(bytes_look, ToneLook{});
  ToneLook deep;
  deep.levels = 65536;
  AutoAdjustCPU(deep_look, deep);
  double largest = cv::norm(bytes_look, deep_look, cv::NORM_INF);
  EXPECT_LT(largest, 3.0 / 255.0);
  EXPECT_GT(largest, 0.0);  // a different table, not the same one
}

cv::Mat Widened(const cv::Mat& bytes) {
  cv::Mat words;
  bytes.convertTo(words, CV_16U, 257.0);
  return words;
}

// A hazy scene: a bright sky gradient above, darker structure below.
cv::Mat HazyScene(int rows, int cols, uint64_t seed) {
  cv::Mat m(rows, cols, CV_8UC3);
  cv::RNG rng(seed);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) {
      const bool sky = y < rows / 2;
      for (int k = 0; k < 3; ++k) {
        const int base = sky ? 170 + (y * 40) / rows + k * 8 : 90 + ((x / 9 + y / 7) % 4) * 25 + k * 10;
        m.at<cv::Vec3b>(y, x)[k] = cv::saturate_cast<uchar>(base + rng.uniform(-4, 5));
      }
    }
  }
  return m;
}

TEST(DeepPipeline, SameWordsAsTheReferencePathForAnyThreadCount) {
  const cv::Mat pictures[] = {Widened(HazyScene(97, 143, 7)), DeepScene(120, 81, 8), RandomWords(1, 40, 0, 65535, 9)};
  for (const cv::Mat& picture : pictures) {
    cv::Mat expected = picture.clone();
    ASSERT_TRUE(ReferenceDehazeCPU(expected.ptr<unsigned short>(), expected.cols, expected.rows, 0.9f));
    for (const char* threads : {"1", "2", "5"}) {
      setenv("VANTOREL_THREADS", threads, 1);
      for (const int band_rows : {0, 3}) {
        SetBandRowsForTesting(band_rows);
        cv::Mat got = picture.clone();
        ASSERT_TRUE(Dehaze16CPU(got.ptr<unsigned short>(), got.cols, got.rows, 0.9f));
        EXPECT_TRUE(SameBytes(got, expected)) << picture.rows << "x" << picture.cols << " threads " << threads;
      }
    }
    SetBandRowsForTesting(0);
    unsetenv("VANTOREL_THREADS");
  }
}

TEST(DeepPipeline, ReducedToBytesItIsTheByteResultUpToRounding) {
  const cv::Mat bytes = HazyScene(160, 200, 11);
  cv::Mat byte_result = bytes.clone();
  ASSERT_TRUE(DehazeCPU(byte_result.data, byte_result.cols, byte_result.rows, 0.9f));
  cv::Mat deep = Widened(bytes);
  ASSERT_TRUE(Dehaze16CPU(deep.ptr<unsigned short>(), deep.cols, deep.rows, 0.9f));
  cv::Mat reduced;
  deep.convertTo(reduced, CV_8U, 1.0 / 257.0);
  cv::Mat difference;
  cv::absdiff(reduced, byte_result, difference);
  const cv::Scalar mean = cv::mean(difference);
  EXPECT_LE((mean[0] + mean[1] + mean[2]) / 3.0, 1.5);
  double largest = 0.0;
  cv::minMaxLoc(difference.reshape(1), nullptr, &largest);
  EXPECT_LE(largest, 16.0);
}

TEST(DeepPipeline, TheNaturalLookReducedToBytesIsTheByteResultUpToRounding) {
  const cv::Mat bytes = HazyScene(120, 150, 12) * 0.6;  // dim: the natural look keeps its range
  DehazeOptions natural;
  natural.look = Look::kNatural;
  cv::Mat byte_result = bytes.clone();
  ASSERT_TRUE(DehazeCPU(byte_result.data, byte_result.cols, byte_result.rows, 0.7f, natural));
  cv::Mat deep = Widened(bytes);
  ASSERT_TRUE(Dehaze16CPU(deep.ptr<unsigned short>(), deep.cols, deep.rows, 0.7f, natural));
  cv::Mat reduced, difference;
  deep.convertTo(reduced, CV_8U, 1.0 / 257.0);
  cv::absdiff(reduced, byte_result, difference);
  const cv::Scalar mean = cv::mean(difference);
  EXPECT_LE((mean[0] + mean[1] + mean[2]) / 3.0, 1.5);
  double largest = 0.0, brightest = 0.0;
  cv::minMaxLoc(difference.reshape(1), nullptr, &largest);
  cv::minMaxLoc(reduced.reshape(1), nullptr, &brightest);
  EXPECT_LE(largest, 16.0);
  EXPECT_LT(brightest, 200.0);  // the dim picture's range is kept in 16 bits too
}

TEST(DeepPipeline, ArgumentsAreRefusedAsForBytesAndOptionsAreHonoured) {
  cv::Mat picture = DeepScene(30, 40, 3);
  const cv::Mat before = picture.clone();
  unsigned short* data = picture.ptr<unsigned short>();
  EXPECT_FALSE(Dehaze16CPU(data, 0, 30, 0.9f));
  EXPECT_FALSE(Dehaze16CPU(data, 40, -1, 0.9f));
  EXPECT_FALSE(Dehaze16CPU(data, 40, 30, 1.5f));
  EXPECT_FALSE(Dehaze16CPU(data, 40, 30, 0.0f));
  EXPECT_TRUE(SameBytes(picture, before));

  std::vector<float> map(40 * 30, -1.0f), alone(40 * 30, -2.0f);
  DehazeOptions options;
  options.transmission = map.data();
  ASSERT_TRUE(Dehaze16CPU(data, 40, 30, 0.9f, options));
  ASSERT_TRUE(EstimateTransmissionMap16CPU(before.ptr<unsigned short>(), 40, 30, 0.9f, alone.data()));
  EXPECT_EQ(map, alone);
  EXPECT_GT(*std::min_element(map.begin(), map.end()), 0.0f);

  cv::Mat black(5, 6, CV_16UC3, cv::Scalar::all(0));
  ASSERT_TRUE(Dehaze16CPU(black.ptr<unsigned short>(), 6, 5, 1.0f));
  EXPECT_EQ(cv::countNonZero(black.reshape(1)), 0);
}

}  // namespace
}  // namespace vantorel
