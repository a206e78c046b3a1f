// Large images through the tool's allocator: memory reused from released images must
// never be shared by two live ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

#include "main/huge_page_allocator.h"

namespace vantorel {
namespace {

constexpr uintptr_t kHugePage = uintptr_t{2} << 20;

// The allocator is process-wide; the tests that share this executable get the library's
// own back afterwards (images made here remember which allocator releases them).
class HugePageAllocatorTest : public testing::Test {
 protected:
  void SetUp() override { UseHugePagesForLargeImages(); }
  void TearDown() override { cv::Mat::setDefaultAllocator(cv::Mat::getStdAllocator()); }
};

struct Tagged {
  cv::Mat image;
  int tag;
};

// Every element of a live image still holds its tag: no other image was written over it.
void ExpectIntact(const Tagged& t) {
  EXPECT_EQ(cv::countNonZero(t.image != t.tag), 0) << "image tagged " << t.tag << ", " << t.image.rows << " rows";
}

void ExpectApart(const std::vector<Tagged>& live) {
  for (size_t i = 0; i < live.size(); ++i) {
    for (size_t j = i + 1; j < live.size(); ++j) {
      const uchar* a = live[i].image.datastart;
      const uchar* b = live[j].image.datastart;
      EXPECT_TRUE(live[i].image.dataend <= b || live[j].image.dataend <= a) << "tags " << live[i].tag << ", " << live[j].tag;
    }
  }
}

TEST_F(HugePageAllocatorTest, LiveImagesOfMixedSizesNeverShareMemory) {
  // One-channel int images from 4 MiB to 18 MiB: rows of 1024 ints are 4 KiB, some sizes
  // not a whole number of huge pages, so that reuse splits and merges kept ranges.
  const std::vector<int> rows = {1024, 1500, 2048, 3000, 4608, 1025};
  std::mt19937 rng(7);
  std::vector<Tagged> live;
  int next_tag = 1;
  for (int step = 0; step < 60; ++step) {
    if (live.size() < 6 && (live.empty() || rng() % 5 < 3)) {
      cv::Mat image(rows[rng() % rows.size()], 1024, CV_32SC1);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(image.data) % kHugePage, 0u);
      image.setTo(next_tag);
      live.push_back({image, next_tag++});
      ExpectApart(live);
    } else {
      const size_t pick = rng() % live.size();
      ExpectIntact(live[pick]);
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(pick));
    }
    if (HasFailure()) return;
  }
  for (const Tagged& t : live) ExpectIntact(t);
}

TEST_F(HugePageAllocatorTest, SmallImagesStillComeFromTheHeap) {
  cv::Mat small(100, 100, CV_8UC3, cv::Scalar(1, 2, 3));
  cv::Mat large(2048, 1024, CV_32SC1, cv::Scalar(9));
  EXPECT_EQ(small.at<cv::Vec3b>(99, 99), cv::Vec3b(1, 2, 3));
  EXPECT_EQ(cv::countNonZero(large != 9), 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(large.data) % kHugePage, 0u);
}

TEST_F(HugePageAllocatorTest, ThreadsAllocatingAndReleasingAtOnceKeepTheirImagesApart) {
  std::vector<std::thread> threads;
  std::vector<int> damaged(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &damaged] {
      for (int round = 0; round < 20; ++round) {
        const int tag = t * 1000 + round;
        cv::Mat a(1024 + 512 * ((round + t) % 3), 1024, CV_32SC1, cv::Scalar(tag));
        cv::Mat b(1536, 1024, CV_32SC1, cv::Scalar(-tag));
        if (cv::countNonZero(a != tag) != 0 || cv::countNonZero(b != -tag) != 0) ++damaged[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(damaged, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace vantorel
