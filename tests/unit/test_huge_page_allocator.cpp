// The allocator of the large working images: images from kLargeImageBytes up are mapped on
// their own, aligned to large pages, whole and writable; smaller ones and images over the
// caller's memory are the default allocator's.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "imagedehaze/huge_page_allocator.h"

namespace vantorel {
namespace {

cv::Mat WithHugePages() {
  cv::Mat image;
  image.allocator = HugePageAllocator();
  return image;
}

TEST(HugePageAllocator, LargeImagesAreMappedAlignedAndWhole) {
  // Just over the threshold, with rows whose length is no multiple of anything.
  const int cols = 1999, rows = static_cast<int>(kLargeImageBytes / (cols * 12)) + 1;
  cv::Mat image = WithHugePages();
  image.create(rows, cols, CV_32FC3);
  ASSERT_GE(image.total() * image.elemSize(), kLargeImageBytes);
  EXPECT_EQ(image.u->currAllocator, HugePageAllocator());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(image.data) % (size_t{2} << 20), 0u);
  EXPECT_TRUE(image.isContinuous());
  EXPECT_EQ(image.step[0], static_cast<size_t>(cols) * 12);
  EXPECT_EQ(image.step[1], 12u);
  // Every byte belongs to the image: written and read back through the library.
  image.setTo(cv::Scalar(0.25, 0.5, 0.75));
  EXPECT_EQ(image.at<cv::Vec3f>(rows - 1, cols - 1), cv::Vec3f(0.25f, 0.5f, 0.75f));
  EXPECT_EQ(cv::sum(image)[2], 0.75 * rows * cols);
  // The same size again keeps the buffer; another size makes a new one.
  const uchar* before = image.data;
  image.create(rows, cols, CV_32FC3);
  EXPECT_EQ(image.data, before);
  image.create(rows + 1, cols, CV_32FC3);
  EXPECT_EQ(image.u->currAllocator, HugePageAllocator());
  image.release();
  EXPECT_TRUE(image.empty());
}

TEST(HugePageAllocator, SmallImagesAndCallersMemoryStayWithTheDefaultAllocator) {
  cv::Mat small = WithHugePages();
  small.create(720, 1280, CV_32FC3);
  EXPECT_NE(small.u->currAllocator, HugePageAllocator());
  std::vector<float> caller(30);
  const cv::Mat view(2, 5, CV_32FC3, caller.data());
  cv::Mat copy = WithHugePages();
  view.copyTo(copy);
  EXPECT_NE(copy.data, reinterpret_cast<uchar*>(caller.data()));
  EXPECT_NE(copy.u->currAllocator, HugePageAllocator());
}

}  // namespace
}  // namespace vantorel
