// DehazeCPU with options and the transmission map: the picture's bytes do not depend on
// what else is asked for, and the map is the same whichever call gives it.
#include <gtest/gtest.h>

#include <vector>

#include <opencv2/core.hpp>

#include "imagedehaze/dehaze.h"
#include "test_pictures.h"

namespace vantorel {
namespace {

TEST(DehazeOptions, MapComesWithUnchangedBytesAndEqualsTheMapAlone) {
  for (const cv::Size size : {cv::Size(1, 1), cv::Size(37, 23), cv::Size(160, 90)}) {
    const cv::Mat source = RandomImage(size.height, size.width, CV_8UC3, 7);
    cv::Mat plain = source.clone(), with_map = source.clone();
    std::vector<float> map(source.total(), -1.0f), map_alone(source.total(), -2.0f);

    ASSERT_TRUE(DehazeCPU(plain.data, plain.cols, plain.rows, 0.8f));
    DehazeOptions options;
    options.transmission = map.data();
    ASSERT_TRUE(DehazeCPU(with_map.data, with_map.cols, with_map.rows, 0.8f, options));
    ASSERT_TRUE(EstimateTransmissionMapCPU(source.data, source.cols, source.rows, 0.8f,
                                           map_alone.data()));

    EXPECT_TRUE(SameBytes(plain, with_map)) << size;
    EXPECT_EQ(map, map_alone) << size;
    for (const float t : map) {
      ASSERT_GE(t, 0.0f);
      ASSERT_LE(t, 1.0f);
    }
  }
}

TEST(DehazeOptions, BlackPictureIsClearAndRefusalsWriteNothing) {
  std::vector<unsigned char> black(4 * 3 * 3, 0);
  std::vector<float> map(12, -1.0f);
  ASSERT_TRUE(EstimateTransmissionMapCPU(black.data(), 4, 3, 0.5f, map.data()));
  EXPECT_EQ(map, std::vector<float>(12, 1.0f));

  std::vector<float> untouched(12, -1.0f);
  DehazeOptions options;
  options.transmission = untouched.data();
  EXPECT_FALSE(DehazeCPU(black.data(), 4, 3, 1.5f, options));
  EXPECT_FALSE(EstimateTransmissionMapCPU(black.data(), 4, 3, 0.0f, untouched.data()));
  EXPECT_FALSE(EstimateTransmissionMapCPU(black.data(), 4, 3, 0.5f, nullptr));
  EXPECT_EQ(untouched, std::vector<float>(12, -1.0f));
}

// A call's own thread count: the same bytes and map, the process's count untouched, and
// a negative count refused before anything is written.
TEST(DehazeOptions, ThreadsOfTheCallGiveTheSameBytes) {
  const cv::Mat source = RandomImage(211, 307, CV_8UC3, 11);
  cv::Mat expected = source.clone();
  std::vector<float> expected_map(source.total());
  DehazeOptions plain;
  plain.transmission = expected_map.data();
  ASSERT_TRUE(DehazeCPU(expected.data, expected.cols, expected.rows, 0.7f, plain));
  const int process_count = ThreadCount();
  for (const int threads : {1, 2, 5}) {
    cv::Mat got = source.clone();
    std::vector<float> map(source.total());
    DehazeOptions options;
    options.transmission = map.data();
    options.threads = threads;
    ASSERT_TRUE(DehazeCPU(got.data, got.cols, got.rows, 0.7f, options));
    EXPECT_TRUE(SameBytes(expected, got)) << threads << " threads";
    EXPECT_EQ(expected_map, map) << threads << " threads";
    EXPECT_EQ(ThreadCount(), process_count);
  }
  cv::Mat untouched = source.clone();
  DehazeOptions negative;
  negative.threads = -1;
  EXPECT_FALSE(DehazeCPU(untouched.data, untouched.cols, untouched.rows, 0.7f, negative));
  EXPECT_TRUE(SameBytes(source, untouched));
}

TEST(ThreadCount, ChosenCountHoldsUntilReset) {
  const int initial = ThreadCount();
  SetThreadCount(3);
  EXPECT_EQ(ThreadCount(), 3);
  SetThreadCount(1000);
  EXPECT_EQ(ThreadCount(), 256);
  SetThreadCount(0);
  EXPECT_EQ(ThreadCount(), initial);
}

}  // namespace
}  // namespace vantorel
