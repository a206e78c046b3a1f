// The transposed work matrix and the channel copies into and out of it.
#include <gtest/gtest.h>

#include <cstring>

#include <opencv2/core.hpp>

#include "work_matrix_copies.h"

namespace vantorel {
namespace {

TEST(WorkMatrix, HoldsTheImageTransposed) {
  // 3 rows, 5 columns: pixel (row 1, column 4) is element (4, 1) at 4 * 3 + 1.
  cv::Mat image(3, 5, CV_32FC1, cv::Scalar(0));
  image.at<float>(1, 4) = 7.5f;
  WorkMatrix m(5, 3, 0.0);
  LoadChannel(image, 0, 1, m);
  EXPECT_EQ(m.x_size, 5);
  EXPECT_EQ(m.y_size, 3);
  EXPECT_EQ(m.storage[13], 7.5);
  EXPECT_EQ(m(4, 1), 7.5);
}

TEST(WorkMatrix, PicksTheChannelOfAThreeChannelImage) {
  cv::Mat image(2, 2, CV_32FC3);
  float* data = image.ptr<float>();
  for (int i = 0; i < 12; ++i) data[i] = static_cast<float>(i);
  // Channel 2 of pixel (0, 1) is the float at index 5.
  WorkMatrix m(2, 2, 0.0);
  LoadChannel(image, 2, 3, m);
  EXPECT_EQ(m(1, 0), 5.0);
  EXPECT_EQ(m(0, 1), 8.0);
}

TEST(WorkMatrix, LoadThenStoreReproducesEveryChannelBitForBit) {
  cv::Mat image(7, 9, CV_32FC3);
  cv::RNG rng(7);
  rng.fill(image, cv::RNG::UNIFORM, -3.0, 3.0);
  image.at<cv::Vec3f>(2, 3) = cv::Vec3f(1e-40f, -0.0f, 3.4e38f);
  cv::Mat copy(7, 9, CV_32FC3, cv::Scalar(0));
  for (int k = 0; k < 3; ++k) {
    WorkMatrix m(9, 7, 0.0);
    LoadChannel(image, k, 3, m);
    StoreChannel(m, copy, k, 3);
  }
  EXPECT_EQ(std::memcmp(image.data, copy.data, image.total() * image.elemSize()), 0);
}

TEST(WorkMatrix, ResizeKeepsExistingElementsAndZeroesNewOnes) {
  WorkMatrix m(2, 2, 4.0);
  m.Resize(3, 2);
  ASSERT_EQ(m.storage.size(), 6u);
  EXPECT_EQ(m.storage[3], 4.0);
  EXPECT_EQ(m.storage[4], 0.0);
  EXPECT_EQ(m.storage[5], 0.0);
}

}  // namespace
}  // namespace vantorel
