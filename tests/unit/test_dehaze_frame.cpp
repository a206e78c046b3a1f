// The pipeline frame: argument refusals, normalisation, channel order and the extent
// of the write-back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include <opencv2/core.hpp>

#include "imagedehaze/dehaze.h"
#include "imagedehaze/edge_filters.h"
#include "imagedehaze/normalize.h"
#include "imagedehaze/pipeline.h"

namespace vantorel {
namespace {

std::vector<unsigned char> Pattern(int cols, int rows) {
  std::vector<unsigned char> bytes(static_cast<size_t>(cols) * rows * 3);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>((i * 37 + 11) % 251);
  return bytes;
}

TEST(DehazeFrame, RefusalsLeaveTheBufferByteForByte) {
  const std::vector<unsigned char> original = Pattern(6, 5);
  const struct {
    int cols, rows;
    float thickness;
  } refused[] = {{0, 5, 0.5f}, {6, 0, 0.5f},      {-1, 5, 0.5f},        {6, -3, 0.5f},
                 {6, 5, 0.0f}, {6, 5, -0.5f},     {6, 5, 1.0000001f},   {6, 5, 2.0f},
                 {6, 5, NAN},  {6, 5, INFINITY}};
  for (const auto& args : refused) {
    std::vector<unsigned char> buffer = original;
    EXPECT_FALSE(DehazeCPU(buffer.data(), args.cols, args.rows, args.thickness))
        << args.cols << "x" << args.rows << " thickness " << args.thickness;
    EXPECT_EQ(buffer, original);
  }
}

// A failure in the last step, as out of memory would be, reaches the caller as an
// exception and leaves the picture as it was.
TEST(DehazeFrame, AFailureInTheLastStepLeavesTheBufferByteForByte) {
  EdgeFilters failing = LibraryEdgeFilters();
  failing.bytes = [](const cv::Mat&, cv::Mat&, double, double) { throw std::bad_alloc(); };
  const std::vector<unsigned char> original = Pattern(40, 30);
  std::vector<unsigned char> buffer = original;
  EXPECT_THROW(RunPipeline(buffer.data(), 40, 30, 0.9f, DehazeOptions{}, failing), std::bad_alloc);
  EXPECT_EQ(buffer, original);
}

TEST(DehazeFrame, SizesOfZeroAreRefusedBeforeAnythingIsRead) {
  EXPECT_FALSE(DehazeCPU(nullptr, 0, 10, 0.5f));
  EXPECT_FALSE(DehazeCPU(nullptr, 10, 0, 0.5f));
}

TEST(DehazeFrame, ThicknessOneIsAccepted) {
  std::vector<unsigned char> buffer = Pattern(4, 4);
  EXPECT_TRUE(DehazeCPU(buffer.data(), 4, 4, 1.0f));
}

// The exported check is the one DehazeCPU applies: the same answer at and around the ends.
TEST(DehazeFrame, ThicknessAcceptedAgreesWithDehazeCPU) {
  for (const float thickness : {0.0f, 1e-38f, 0.1f, 1.0f, 1.0000001f, -0.0f, NAN, INFINITY}) {
    std::vector<unsigned char> buffer = Pattern(3, 2);
    EXPECT_EQ(ThicknessAccepted(thickness), DehazeCPU(buffer.data(), 3, 2, thickness)) << thickness;
  }
  EXPECT_TRUE(ThicknessAccepted(1e-38f));
  EXPECT_FALSE(ThicknessAccepted(0.0f));
}

TEST(DehazeFrame, WritesExactlyRowsTimesColsTimesThreeBytes) {
  const int cols = 7, rows = 5;
  const size_t size = static_cast<size_t>(cols) * rows * 3;
  std::vector<unsigned char> buffer = Pattern(cols, rows);
  buffer.resize(size + 64, 0xA5);
  ASSERT_TRUE(DehazeCPU(buffer.data(), cols, rows, 0.9f));
  for (size_t i = size; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xA5) << "guard byte " << i - size;
}

TEST(DehazeFrame, AllBlackPictureStaysBlack) {
  std::vector<unsigned char> buffer(5 * 4 * 3, 0);
  EXPECT_TRUE(DehazeCPU(buffer.data(), 5, 4, 0.9f));
  for (unsigned char b : buffer) EXPECT_EQ(b, 0);
}

TEST(Normalize, DimPictureIsStretchedToABrightestSampleOfOne) {
  cv::Mat source(3, 4, CV_8UC3, cv::Scalar(10, 20, 30));
  source.at<cv::Vec3b>(1, 2) = cv::Vec3b(64, 5, 0);
  const double largest = LargestSample(source);
  EXPECT_EQ(largest, 64.0);
  const cv::Mat normalized = NormalizeByLargestSample(source, largest);
  ASSERT_EQ(normalized.type(), CV_32FC3);
  double lo = 0, hi = 0;
  cv::minMaxLoc(normalized.reshape(1), &lo, &hi);
  EXPECT_EQ(hi, 1.0);
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(normalized.at<cv::Vec3f>(0, 0)[0], 10.0f / 64.0f);
}

// The library scales in single precision, so for most maxima the brightest sample lands
// within one unit in the last place of 1.0 rather than on it.
TEST(Normalize, EverySampleIsWithinOneUlpOfItsQuotientForEveryMaximum) {
  for (int max = 1; max <= 255; ++max) {
    cv::Mat source(1, 256, CV_8UC3);
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<unsigned char>(std::min(i, max));
      source.at<cv::Vec3b>(0, i) = cv::Vec3b(v, static_cast<unsigned char>(v / 2), 0);
    }
    ASSERT_EQ(LargestSample(source), max);
    const cv::Mat normalized = NormalizeByLargestSample(source, max);
    for (int i = 0; i < 256; ++i) {
      const float got = normalized.at<cv::Vec3f>(0, i)[0];
      const float exact = static_cast<float>(std::min(i, max) / static_cast<double>(max));
      EXPECT_LE(std::fabs(got - exact), std::nextafter(exact, 2.0f) - exact) << max << " " << i;
    }
  }
}

TEST(DehazeFrame, ChannelOrderIsKept) {
  // Distinct channel levels come back in the same order: blue stays the darkest.
  const int cols = 8, rows = 8;
  std::vector<unsigned char> buffer(static_cast<size_t>(cols) * rows * 3);
  for (size_t i = 0; i < buffer.size(); i += 3) {
    buffer[i] = 40;
    buffer[i + 1] = 120;
    buffer[i + 2] = 250;
  }
  ASSERT_TRUE(DehazeCPU(buffer.data(), cols, rows, 0.9f));
  for (size_t i = 0; i < buffer.size(); i += 3) {
    EXPECT_LT(buffer[i], buffer[i + 1]);
    EXPECT_LT(buffer[i + 1], buffer[i + 2]);
  }
}

}  // namespace
}  // namespace vantorel
