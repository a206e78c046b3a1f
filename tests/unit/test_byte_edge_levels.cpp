// Byte channels place their edges on the grid through per-level tables; the streaming
// core must still give the reference core's doubles bit for bit, for every byte value.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <opencv2/core.hpp>

#include "bilateral_grid.h"
#include "reference_grid.h"
#include "filters/grid_stream.h"
#include "filters/image_channels.h"

namespace vantorel {
namespace {

// Keeps the core's doubles, unrounded, in a work matrix.
struct WorkMatrixSink {
  WorkMatrix* out;
  double* Pointer(int32_t x, int32_t y) const { return &(*out)(x, y); }
  size_t Stride() const { return static_cast<size_t>(out->y_size); }
};

// Channel k of a random CV_8UC3 picture with bytes in [lo, hi]; the first pixels of
// channel k run through every byte of that range, so every level is filled and read.
cv::Mat PictureOfLevels(int rows, int cols, int lo, int hi, int k, std::mt19937& rng) {
  cv::Mat picture(rows, cols, CV_8UC3);
  std::uniform_int_distribution<int> level(lo, hi);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x)
      for (int c = 0; c < 3; ++c) picture.at<cv::Vec3b>(y, x)[c] = static_cast<uchar>(level(rng));
  for (int i = 0; i <= hi - lo && i < rows * cols; ++i)
    picture.at<cv::Vec3b>(i / cols, i % cols)[k] = static_cast<uchar>(lo + i);
  return picture;
}

// The reference core on the same channel, loaded as byte / 255 in double.
WorkMatrix ReferenceOf(const cv::Mat& picture, int k, double sigma_s, double sigma_r) {
  WorkMatrix values(picture.cols, picture.rows, 0.0);
  for (int y = 0; y < picture.rows; ++y)
    for (int x = 0; x < picture.cols; ++x) values(x, y) = picture.at<cv::Vec3b>(y, x)[k] / 255.0;
  WorkMatrix expected;
  BilateralGridReferenceCPU(values, values, sigma_s, sigma_r, expected);
  return expected;
}

WorkMatrix StreamedOf(const cv::Mat& picture, int k, double sigma_s, double sigma_r) {
  WorkMatrix got(picture.cols, picture.rows, -1.0);
  const ByteChannel channel(picture, k);
  StreamBilateralGrid(ChannelSource<ByteChannel>{channel, channel, picture.cols, picture.rows},
                      WorkMatrixSink{&got}, picture.cols, picture.rows, sigma_s, sigma_r);
  return got;
}

bool BitIdentical(const WorkMatrix& a, const WorkMatrix& b) {
  return a.x_size == b.x_size && a.y_size == b.y_size &&
         std::memcmp(a.storage.data(), b.storage.data(), a.storage.size() * sizeof(double)) == 0;
}

TEST(ByteEdgeLevels, EveryByteValueMatchesTheReferenceBitForBit) {
  std::mt19937 rng(255);
  // The final filter's scales, then scales where a cell holds several levels, exactly one
  // level, and a level spans several cells; the narrowed ranges move emin and emax.
  const double sigmas[][2] = {{4.0, 0.02}, {2.5, 0.1}, {7.0, 1.0 / 255.0}, {3.0, 0.0013}, {5.0, 0.5}};
  const int ranges[][2] = {{0, 255}, {17, 200}, {128, 129}, {3, 90}, {250, 255}};
  int k = 0;
  for (const auto& s : sigmas) {
    for (const auto& r : ranges) {
      const cv::Mat picture = PictureOfLevels(41, 67, r[0], r[1], k, rng);
      EXPECT_TRUE(BitIdentical(StreamedOf(picture, k, s[0], s[1]), ReferenceOf(picture, k, s[0], s[1])))
          << "sigmas " << s[0] << "/" << s[1] << " bytes " << r[0] << ".." << r[1] << " channel " << k;
      k = (k + 1) % 3;
    }
  }
}

// A channel smoothed along the edges of another: each pixel's value and its cell come from
// different samples, so the fill cannot take both from one.
TEST(ByteEdgeLevels, ValuesOfOneChannelAlongTheEdgesOfAnother) {
  std::mt19937 rng(41);
  const cv::Mat picture = PictureOfLevels(53, 71, 0, 255, 2, rng);
  WorkMatrix values(picture.cols, picture.rows, 0.0), edges(picture.cols, picture.rows, 0.0);
  for (int y = 0; y < picture.rows; ++y) {
    for (int x = 0; x < picture.cols; ++x) {
      values(x, y) = picture.at<cv::Vec3b>(y, x)[0] / 255.0;
      edges(x, y) = picture.at<cv::Vec3b>(y, x)[2] / 255.0;
    }
  }
  for (const auto& s : {std::array<double, 2>{4.0, 0.02}, std::array<double, 2>{3.0, 0.1}}) {
    WorkMatrix expected;
    BilateralGridReferenceCPU(values, edges, s[0], s[1], expected);
    WorkMatrix got(picture.cols, picture.rows, -1.0);
    StreamBilateralGrid(ChannelSource<ByteChannel>{ByteChannel(picture, 0), ByteChannel(picture, 2), picture.cols,
                                                   picture.rows},
                        WorkMatrixSink{&got}, picture.cols, picture.rows, s[0], s[1]);
    EXPECT_TRUE(BitIdentical(got, expected)) << "sigmas " << s[0] << "/" << s[1];
  }
}

TEST(ByteEdgeLevels, ConstantChannelAndEveryThreadCount) {
  std::mt19937 rng(3);
  const cv::Mat flat(23, 300, CV_8UC3, cv::Scalar(77, 0, 255));
  for (int k = 0; k < 3; ++k)
    EXPECT_TRUE(BitIdentical(StreamedOf(flat, k, 4.0, 0.02), ReferenceOf(flat, k, 4.0, 0.02))) << k;

  const cv::Mat picture = PictureOfLevels(97, 400, 0, 255, 1, rng);
  const WorkMatrix expected = ReferenceOf(picture, 1, 4.0, 0.02);
  for (const char* threads : {"1", "2", "5"}) {
    setenv("VANTOREL_THREADS", threads, 1);
    EXPECT_TRUE(BitIdentical(StreamedOf(picture, 1, 4.0, 0.02), expected)) << threads << " threads";
  }
  unsetenv("VANTOREL_THREADS");
}

}  // namespace
}  // namespace vantorel
