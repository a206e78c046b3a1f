// The allocator of the large working images: images from kLargeImageBytes up are mapped on
// their own, aligned to large pages, whole and writable; smaller ones and images over the
// caller's memory are the default allocator's. A freed large image's mapping is kept and
// taken by the next one that fits (the smallest that does), within a ceiling; and a
// dehaze whose images take kept mappings full of another picture's leftovers, or of NaN,
// writes the same bytes as one on fresh mappings.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "imagedehaze/huge_page_allocator.h"
#include "imagedehaze/kept_mappings.h"
#include "test_pictures.h"
#include "vantorel/dehaze.h"

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

Mapping NewMapping(size_t pages) {
  const size_t length = pages * 4096;
  void* start = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  EXPECT_NE(start, MAP_FAILED);
  return Mapping{start, length};
}

TEST(KeptMappings, TheSmallestThatFitsIsTakenAndTheOldestGoAboveTheCeiling) {
  KeptMappings kept(10 * 4096);
  const Mapping three = NewMapping(3), five = NewMapping(5), two = NewMapping(2);
  kept.Keep(three);
  kept.Keep(five);
  kept.Keep(two);
  EXPECT_EQ(kept.KeptBytes(), 10u * 4096);
  Mapping taken;
  ASSERT_TRUE(kept.Take(3 * 4096 - 1, taken));  // three fits best, not five
  EXPECT_EQ(taken.start, three.start);
  EXPECT_EQ(taken.length, three.length);
  EXPECT_FALSE(kept.Take(6 * 4096, taken));  // nothing that large: nothing taken
  EXPECT_EQ(kept.KeptBytes(), 7u * 4096);
  // Over the ceiling: five, the oldest now, goes; two stays.
  kept.Keep(three);
  const Mapping four = NewMapping(4);
  kept.Keep(four);
  EXPECT_EQ(kept.KeptBytes(), 9u * 4096);
  ASSERT_TRUE(kept.Take(5 * 4096, taken) == false);
  ASSERT_TRUE(kept.Take(2 * 4096, taken));
  EXPECT_EQ(taken.start, two.start);
  munmap(taken.start, taken.length);
  // Larger than the ceiling alone: unmapped at once.
  kept.Keep(NewMapping(11));
  EXPECT_EQ(kept.KeptBytes(), 7u * 4096);
  kept.UnmapAll();
  EXPECT_EQ(kept.KeptBytes(), 0u);
  EXPECT_FALSE(kept.Take(1, taken));
}

// A freed large image leaves its mapping for the next that fits; a larger one gets its own.
TEST(HugePageAllocator, AFreedImagesMappingGoesToTheNextThatFits) {
  KeepFreedMappings(true);
  const int cols = 2000, rows = static_cast<int>(kLargeImageBytes / (cols * 12)) + 10;
  cv::Mat first = WithHugePages();
  first.create(rows, cols, CV_32FC3);
  const uchar* const where = first.data;
  first.release();
  EXPECT_GT(KeptMappingBytes(), static_cast<size_t>(rows) * cols * 12);
  cv::Mat smaller = WithHugePages();
  smaller.create(rows - 5, cols, CV_32FC3);
  EXPECT_EQ(smaller.data, where);
  EXPECT_EQ(KeptMappingBytes(), 0u);
  cv::Mat larger = WithHugePages();
  larger.create(rows + 600, cols, CV_32FC3);
  EXPECT_NE(larger.data, where);
  smaller.release();
  larger.release();
  EXPECT_GT(KeptMappingBytes(), 0u);
  KeepFreedMappings(false);
  EXPECT_EQ(KeptMappingBytes(), 0u);
  // Not kept: a freed mapping is gone.
  cv::Mat unkept = WithHugePages();
  unkept.create(rows, cols, CV_32FC3);
  unkept.release();
  EXPECT_EQ(KeptMappingBytes(), 0u);
}

// Freed large images of the sizes a dehaze of `rows` x `cols` works in, every byte set to
// `byte` (0xff: NaN in every float), so that its images take mappings full of it.
void LeaveKeptMappingsFullOf(int rows, int cols, int byte) {
  std::vector<cv::Mat> images;
  for (const int type : {CV_32FC3, CV_32FC1, CV_8UC3, CV_16UC3}) {
    for (int copy = 0; copy < 2; ++copy) {
      cv::Mat image = WithHugePages();
      image.create(rows, cols, type);
      std::memset(image.data, byte, image.total() * image.elemSize());
      images.push_back(image);
    }
  }
}

// Smooth content with fine noise: a small random picture enlarged, plus a little noise.
cv::Mat SmoothPicture(int rows, int cols) {
  cv::Mat picture;
  cv::resize(RandomImage(12, 18, CV_8UC3, 5), picture, cv::Size(cols, rows), 0, 0, cv::INTER_CUBIC);
  cv::Mat noise = RandomImage(rows, cols, CV_8UC3, 6);
  cv::addWeighted(picture, 0.9, noise, 0.1, 0.0, picture);
  return picture;
}

template <typename Sample>
std::vector<Sample> Dehazed(const cv::Mat& picture, Look look) {
  std::vector<Sample> samples(picture.total() * 3);
  std::memcpy(samples.data(), picture.data, samples.size() * sizeof(Sample));
  DehazeOptions options;
  options.look = look;
  const bool done = sizeof(Sample) == 1
                        ? DehazeCPU(reinterpret_cast<unsigned char*>(samples.data()), picture.cols, picture.rows,
                                    0.8f, options)
                        : Dehaze16CPU(reinterpret_cast<unsigned short*>(samples.data()), picture.cols,
                                      picture.rows, 0.8f, options);
  EXPECT_TRUE(done);
  return samples;
}

// At 9 megapixels every working image is large enough to be mapped on its own. Each
// result is compared with the same dehaze on fresh (zeroed) memory only.
TEST(HugePageAllocator, ADehazeOnKeptMappingsWritesTheSameBytesWhateverTheyHeld) {
  const int rows = 2400, cols = 3750;
  ASSERT_GE(static_cast<size_t>(rows) * cols * 4, kLargeImageBytes);
  const cv::Mat bytes = SmoothPicture(rows, cols);
  cv::Mat words;
  bytes.convertTo(words, CV_16UC3, 257.0);
  for (const Look look : {Look::kClassic, Look::kNatural}) {
    KeepFreedMappings(false);
    const std::vector<uint8_t> fresh = Dehazed<uint8_t>(bytes, look);
    KeepFreedMappings(true);
    LeaveKeptMappingsFullOf(rows, cols, 0xff);  // NaN in every float
    const size_t kept = KeptMappingBytes();
    EXPECT_TRUE(Dehazed<uint8_t>(bytes, look) == fresh) << (look == Look::kNatural ? "natural" : "classic");
    // Every image the call needed was a kept mapping: none was added.
    EXPECT_EQ(KeptMappingBytes(), kept);
  }
  KeepFreedMappings(false);
  const std::vector<uint16_t> fresh = Dehazed<uint16_t>(words, Look::kClassic);
  KeepFreedMappings(true);
  LeaveKeptMappingsFullOf(rows, cols, 0x7f);
  EXPECT_TRUE(Dehazed<uint16_t>(words, Look::kClassic) == fresh) << "16 bits";
  KeepFreedMappings(false);
}

}  // namespace
}  // namespace vantorel
