// Frames through working images kept from call to call: once the first frame of a size has
// run, the next ones allocate nothing of frame size, and every result is byte for byte the
// one fresh images give.
//
// Allocations are counted in two places: every cv::Mat buffer (through a counting default
// allocator) and every operator new of this test binary (the libraries' std::vector and
// new[] included). Only those of at least cols x rows bytes, the smallest plane of a frame,
// count; the scratch of the parallel loops' bands (about 65536 pixels of three floats each)
// stays below that at the 1280 x 720 frames used here.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "imagedehaze/edge_filters.h"
#include "imagedehaze/pipeline.h"
#include "imagedehaze/temporal_estimates.h"
#include "imagedehaze/working_images.h"
#include "vantorel/dehaze.h"
#include "vantorel/video_dehazer.h"

namespace {

std::atomic<size_t> large_from{0};  // 0: not counting
std::atomic<int> large_allocations{0};

void NoteAllocation(size_t bytes) {
  const size_t from = large_from.load(std::memory_order_relaxed);
  if (from != 0 && bytes >= from) large_allocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

// The binary's operator new counts before it allocates. Every form but the aligned ones is
// replaced, all of them over malloc() and free(), so that whatever form allocates, the form
// that frees matches it (the aligned ones pair among themselves in the library). The
// compiler cannot tell that these are pairs, and warns of free() on memory from new.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t bytes) {
  NoteAllocation(bytes);
  if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t bytes) { return operator new(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  NoteAllocation(bytes);
  return std::malloc(bytes == 0 ? 1 : bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t& nothrow) noexcept {
  return operator new(bytes, nothrow);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace vantorel {
namespace {

// Every cv::Mat buffer goes through the library's own allocator, counted on the way.
class CountingMatAllocator : public cv::MatAllocator {
 public:
  cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
                         cv::UMatUsageFlags usage) const override {
    cv::UMatData* u = cv::Mat::getStdAllocator()->allocate(dims, sizes, type, data, step, flags, usage);
    if (u != nullptr && data == nullptr) NoteAllocation(u->size);
    return u;
  }
  bool allocate(cv::UMatData* u, cv::AccessFlag flags, cv::UMatUsageFlags usage) const override {
    return cv::Mat::getStdAllocator()->allocate(u, flags, usage);
  }
  void deallocate(cv::UMatData* u) const override { cv::Mat::getStdAllocator()->deallocate(u); }
};

// Counts the allocations of at least `bytes` while it lives, with the counting cv::Mat
// allocator installed; the previous allocator comes back after.
class LargeAllocations {
 public:
  explicit LargeAllocations(size_t bytes) : previous_(cv::Mat::getDefaultAllocator()) {
    cv::Mat::setDefaultAllocator(&allocator_);
    large_allocations = 0;
    large_from = bytes;
  }
  ~LargeAllocations() {
    large_from = 0;
    cv::Mat::setDefaultAllocator(previous_);
  }
  int Count() const { return large_allocations.load(); }

 private:
  CountingMatAllocator allocator_;
  cv::MatAllocator* previous_;
};

constexpr int kCols = 1280, kRows = 720;

// Frame k of a slow pan over the bundled photograph, with a white square moving in it.
cv::Mat PanFrame(int k, int cols = kCols, int rows = kRows) {
  static const cv::Mat sample = cv::imread(VANTOREL_SOURCE_DIR "/samples/hazy_mountains.jpg", cv::IMREAD_COLOR);
  cv::Mat scaled;
  cv::resize(sample, scaled, cv::Size(cols + cols / 8, rows + rows / 8), 0, 0, cv::INTER_AREA);
  cv::Mat frame = scaled(cv::Rect(3 * k, 2 * k, cols, rows)).clone();
  cv::rectangle(frame, cv::Rect(cols / 10 + 9 * k, rows / 2, cols / 20, cols / 20), cv::Scalar(255, 255, 255),
                cv::FILLED);
  return frame;
}

cv::Mat Single(const cv::Mat& frame, Look look) {
  cv::Mat copy = frame.clone();
  DehazeOptions options;
  options.look = look;
  EXPECT_TRUE(DehazeCPU(copy.data, copy.cols, copy.rows, 0.8f, options));
  return copy;
}

bool SameBytes(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

const size_t kFrameBytes = static_cast<size_t>(kCols) * kRows;

// Window 0: each frame is the single picture's result, and from the second frame on its
// images are the ones the first left.
TEST(WorkingImages, ClipFramesAfterTheFirstAllocateNothingOfFrameSize) {
  for (Look look : {Look::kClassic, Look::kNatural}) {
    VideoDehazer dehazer(0.8f, look, 0.0, 30.0);
    for (int k = 0; k < 3; ++k) {
      const cv::Mat frame = PanFrame(k);
      cv::Mat dehazed = frame.clone();
      int large = 0;
      {
        LargeAllocations counted(kFrameBytes);
        ASSERT_TRUE(dehazer.Process(dehazed.data, dehazed.cols, dehazed.rows));
        large = counted.Count();
      }
      // The first frame makes the images: the count sees them.
      if (k == 0) {
        EXPECT_GE(large, 4) << "look " << static_cast<int>(look);
      } else {
        EXPECT_EQ(large, 0) << "frame " << k << ", look " << static_cast<int>(look);
      }
      EXPECT_TRUE(SameBytes(dehazed, Single(frame, look))) << "frame " << k << ", look " << static_cast<int>(look);
    }
  }
}

// With the averages at work: frames through kept images equal the same frames, with the
// same estimates, through fresh images each time.
TEST(WorkingImages, KeptImagesGiveTheResultsOfFreshOnes) {
  VideoDehazer dehazer(0.8f, Look::kClassic, 1.0, 30.0);
  TemporalEstimates estimates;
  for (int k = 0; k < 3; ++k) {
    const cv::Mat frame = PanFrame(k);
    cv::Mat kept = frame.clone();
    {
      LargeAllocations counted(kFrameBytes);
      ASSERT_TRUE(dehazer.Process(kept.data, kept.cols, kept.rows));
      if (k > 0) {
        EXPECT_EQ(counted.Count(), 0) << "frame " << k;
      }
    }
    ASSERT_EQ(dehazer.LastFrameStartedScene(), k == 0);  // a pan, not a cut
    estimates.SetWeight(k == 0 ? 1.0 : FrameWeight(1.0 / 30.0, 1.0));
    cv::Mat fresh = frame.clone();
    WorkingImages work(false);
    ASSERT_TRUE(RunPipeline(fresh.data, fresh.cols, fresh.rows, 0.8f, DehazeOptions{}, LibraryEdgeFilters(),
                            &estimates, work));
    EXPECT_TRUE(SameBytes(kept, fresh)) << "frame " << k;
    if (k > 0) {
      EXPECT_FALSE(SameBytes(kept, Single(frame, Look::kClassic))) << "the averages act on frame " << k;
    }
  }
}

// One set of images for frames of changing sizes and depths: each is re-made for the
// frame that needs it, and no result depends on what a previous frame left in them.
TEST(WorkingImages, AnotherSizeOrDepthRemakesThem) {
  WorkingImages work(true);
  const cv::Size sizes[] = {{96, 64}, {200, 120}, {96, 64}, {97, 63}};
  for (const cv::Size& size : sizes) {
    for (Look look : {Look::kClassic, Look::kNatural}) {
      const cv::Mat frame = PanFrame(2, size.width, size.height);
      cv::Mat kept = frame.clone();
      DehazeOptions options;
      options.look = look;
      ASSERT_TRUE(RunPipeline(kept.data, kept.cols, kept.rows, 0.8f, options, LibraryEdgeFilters(), nullptr, work));
      EXPECT_TRUE(SameBytes(kept, Single(frame, look))) << size << ", look " << static_cast<int>(look);

      cv::Mat deep, deep_expected;
      frame.convertTo(deep, CV_16UC3, 257.0);
      deep_expected = deep.clone();
      ASSERT_TRUE(RunPipeline(deep.ptr<unsigned short>(), deep.cols, deep.rows, 0.8f, options, LibraryEdgeFilters(),
                              work));
      ASSERT_TRUE(Dehaze16CPU(deep_expected.ptr<unsigned short>(), deep.cols, deep.rows, 0.8f, options));
      EXPECT_TRUE(SameBytes(deep, deep_expected)) << size << " in 16 bits, look " << static_cast<int>(look);
    }
  }
  // An all-black frame leaves the images as they are and stays black.
  cv::Mat black(64, 96, CV_8UC3, cv::Scalar::all(0));
  ASSERT_TRUE(RunPipeline(black.data, black.cols, black.rows, 0.8f, DehazeOptions{}, LibraryEdgeFilters(), nullptr,
                          work));
  EXPECT_EQ(cv::countNonZero(black.reshape(1)), 0);
  cv::Mat after = PanFrame(1, 96, 64), expected = Single(after, Look::kClassic);
  ASSERT_TRUE(RunPipeline(after.data, after.cols, after.rows, 0.8f, DehazeOptions{}, LibraryEdgeFilters(), nullptr,
                          work));
  EXPECT_TRUE(SameBytes(after, expected));
}

}  // namespace
}  // namespace vantorel
