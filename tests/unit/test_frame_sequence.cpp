// A clip's frames dehazed several at once, each on its own thread: every result is the one
// VideoDehazer gives frame after frame, whatever the interleaving; and a frame that fails
// lets the others through.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <new>
#include <random>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "filters/bilateral_filters.h"
#include "imagedehaze/edge_filters.h"
#include "imagedehaze/frame_sequence.h"
#include "vantorel/video_dehazer.h"

namespace vantorel {
namespace {

constexpr int kCols = 160, kRows = 120;

// A clip of `count` frames: a pan over the bundled photograph with a white square crossing
// it, a cut at `count / 2` to a darker, mirrored view, one all-black frame after it, and a
// frame of another size near the end.
std::vector<cv::Mat> Clip(int count) {
  static const cv::Mat sample = cv::imread(VANTOREL_SOURCE_DIR "/samples/hazy_mountains.jpg", cv::IMREAD_COLOR);
  cv::Mat scaled, other;
  cv::resize(sample, scaled, cv::Size(kCols * 2, kRows * 2), 0, 0, cv::INTER_AREA);
  cv::flip(scaled, other, -1);
  other *= 0.6;
  std::vector<cv::Mat> frames;
  for (int k = 0; k < count; ++k) {
    const cv::Mat& view = k < count / 2 ? scaled : other;
    cv::Mat frame = view(cv::Rect(3 * k, 10 + k, kCols, kRows)).clone();
    cv::rectangle(frame, cv::Rect(6 * k, 70, 20, 20), cv::Scalar(255, 255, 255), cv::FILLED);
    if (k == count / 2 + 3) frame.setTo(cv::Scalar::all(0));
    if (k == count - 3) frame = frame(cv::Rect(0, 0, kCols - 30, kRows - 20)).clone();
    frames.push_back(frame);
  }
  return frames;
}

// The frames one after another through a VideoDehazer, at 25 frames a second.
std::vector<cv::Mat> OneAfterAnother(const std::vector<cv::Mat>& clip, Look look, double window) {
  VideoDehazer dehazer(0.8f, look, window, 25.0);
  std::vector<cv::Mat> results;
  for (size_t k = 0; k < clip.size(); ++k) {
    cv::Mat frame = clip[k].clone();
    EXPECT_TRUE(dehazer.Process(frame.data, frame.cols, frame.rows, 0.04 * static_cast<double>(k)));
    results.push_back(frame);
  }
  return results;
}

// The frames through one sequence on `threads` threads, each taking the next frame number
// when it is free, and pausing a random while (seeded) before some of them so that the
// threads arrive at the gates in ever other orders.
std::vector<cv::Mat> SeveralAtOnce(const std::vector<cv::Mat>& clip, Look look, double window, int threads,
                                   unsigned seed) {
  FrameSequence sequence(0.8f, look, window, 25.0);
  std::vector<cv::Mat> results(clip.size());
  std::atomic<int> next{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      std::mt19937 random(seed * 31 + t);
      for (int k = next++; k < static_cast<int>(clip.size()); k = next++) {
        if (random() % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(random() % 7));
        cv::Mat frame = clip[k].clone();
        EXPECT_TRUE(sequence.Dehaze(k, frame.data, frame.cols, frame.rows, 0.04 * k, 1));
        results[k] = frame;
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  return results;
}

bool SameBytes(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

TEST(FrameSequence, SeveralAtOnceGiveTheResultsOfOneAfterAnother) {
  const std::vector<cv::Mat> clip = Clip(24);
  for (Look look : {Look::kClassic, Look::kNatural}) {
    const std::vector<cv::Mat> expected = OneAfterAnother(clip, look, 1.0);
    // The clip does exercise the averages: a frame inside a scene differs from window 0.
    EXPECT_FALSE(SameBytes(expected[5], OneAfterAnother(clip, look, 0.0)[5]));
    for (int threads : {2, 3}) {
      for (unsigned seed : {1u, 2u, 3u}) {
        const std::vector<cv::Mat> results = SeveralAtOnce(clip, look, 1.0, threads, seed);
        for (size_t k = 0; k < clip.size(); ++k) {
          EXPECT_TRUE(SameBytes(results[k], expected[k]))
              << "frame " << k << ", look " << static_cast<int>(look) << ", " << threads << " threads, seed " << seed;
        }
      }
    }
  }
}

// The failing filter: the transmission's smoothing fails in the fourth frame as out of
// memory would, after the frame has passed the row profile's gate and before the tone's.
// It fails late enough for the other thread to have taken the next frame, which then
// waits at the tone's gate for the failed one.
std::atomic<int> transmission_calls{0};
void FailingOnTheFourth(const cv::Mat& source, const cv::Mat& guide, cv::Mat& output, double sigma_s,
                        double sigma_r) {
  if (++transmission_calls == 4) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    throw std::bad_alloc();
  }
  JointBilateralCPU(source, guide, output, sigma_s, sigma_r);
}

// Two threads, as a clip's run has them: the one whose frame fails stops taking frames;
// the other's frame, which waits at the gates for the failed one, still finishes.
TEST(FrameSequence, AFrameThatFailsLetsTheNextThrough) {
  EdgeFilters failing = LibraryEdgeFilters();
  failing.joint = FailingOnTheFourth;
  transmission_calls = 0;
  const std::vector<cv::Mat> clip = Clip(10);
  FrameSequence sequence(0.8f, Look::kClassic, 1.0, 25.0, failing);
  std::atomic<int> next{0}, taken{0}, failures{0}, done{0};
  std::atomic<bool> failed{false}, failed_frame_unchanged{false};
  auto run = [&] {
    std::vector<std::thread> workers;
    for (int t = 0; t < 2; ++t) {
      workers.emplace_back([&] {
        for (int k = next++; k < static_cast<int>(clip.size()) && !failed; k = next++) {
          ++taken;
          cv::Mat frame = clip[k].clone();
          try {
            if (sequence.Dehaze(k, frame.data, frame.cols, frame.rows, 0.04 * k, 1)) ++done;
          } catch (const std::bad_alloc&) {
            ++failures;
            failed = true;
            failed_frame_unchanged = SameBytes(frame, clip[k]);
          }
        }
      });
    }
    for (std::thread& worker : workers) worker.join();
  };
  std::future<void> finished = std::async(std::launch::async, run);
  if (finished.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "the threads still wait a minute after the failure";
    std::abort();  // they never end: the test would hang
  }
  EXPECT_EQ(failures.load(), 1);
  EXPECT_TRUE(failed_frame_unchanged);
  // The frames before the failed one, and the one in flight beside it, all finished.
  EXPECT_GE(done.load(), 3);
  EXPECT_EQ(done + failures, taken.load());
}

}  // namespace
}  // namespace vantorel
