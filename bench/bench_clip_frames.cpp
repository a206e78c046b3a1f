// A clip's frames through the engine alone, at 1920 x 1080, 16 frames of a pan over a
// generated hazy scene per iteration (the frames are made once; each is copied into its
// buffer before it is dehazed):
//   FreshImages   one at a time, the process's threads on each, the averages followed but
//                 every frame's images allocated afresh (as a clip was dehazed before the
//                 images were kept)
//   OneAtATime    VideoDehazer: one at a time, the process's threads on each, images kept
//   TwoAtOnce     a frame sequence on two threads, one thread each (as the clip form does)
// The counter `frames` is frames per second; the CPU time is that of all the threads.
#include <benchmark/benchmark.h>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

#include "bench_scenes.h"
#include "imagedehaze/edge_filters.h"
#include "imagedehaze/frame_sequence.h"
#include "imagedehaze/pipeline.h"
#include "imagedehaze/temporal_estimates.h"
#include "vantorel/video_dehazer.h"

namespace vantorel {
namespace {

constexpr int kCols = 1920, kRows = 1080, kFrames = 16;

const std::vector<cv::Mat>& PanFrames() {
  static const std::vector<cv::Mat> frames = [] {
    const cv::Mat scene = HazyScene(kRows + 2 * kFrames, kCols + 3 * kFrames);
    std::vector<cv::Mat> made;
    for (int k = 0; k < kFrames; ++k) made.push_back(scene(cv::Rect(3 * k, 2 * k, kCols, kRows)).clone());
    return made;
  }();
  return frames;
}

void CountFrames(benchmark::State& state) {
  state.counters["frames"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}

void BM_ClipFramesFreshImages(benchmark::State& state) {
  const std::vector<cv::Mat>& frames = PanFrames();
  cv::Mat buffer(kRows, kCols, CV_8UC3);
  TemporalEstimates estimates;
  for (auto _ : state) {
    for (const cv::Mat& frame : frames) {
      frame.copyTo(buffer);
      estimates.SetWeight(FrameWeight(1.0 / 30.0, 1.0));
      RunPipeline(buffer.data, kCols, kRows, 0.8f, DehazeOptions{}, LibraryEdgeFilters(), &estimates);
    }
  }
  CountFrames(state);
}

void BM_ClipFramesOneAtATime(benchmark::State& state) {
  const std::vector<cv::Mat>& frames = PanFrames();
  cv::Mat buffer(kRows, kCols, CV_8UC3);
  VideoDehazer dehazer(0.8f);
  for (auto _ : state) {
    for (const cv::Mat& frame : frames) {
      frame.copyTo(buffer);
      dehazer.Process(buffer.data, kCols, kRows);
    }
  }
  CountFrames(state);
}

void BM_ClipFramesTwoAtOnce(benchmark::State& state) {
  const std::vector<cv::Mat>& frames = PanFrames();
  FrameSequence sequence(0.8f, Look::kClassic, 1.0, 30.0);
  cv::Mat buffers[2] = {cv::Mat(kRows, kCols, CV_8UC3), cv::Mat(kRows, kCols, CV_8UC3)};
  int64_t first = 0;
  for (auto _ : state) {
    std::atomic<int> next{0};
    auto dehaze = [&](cv::Mat& buffer) {
      for (int k = next++; k < kFrames; k = next++) {
        frames[k].copyTo(buffer);
        sequence.Dehaze(first + k, buffer.data, kCols, kRows, std::nullopt, 1);
      }
    };
    std::thread other([&] { dehaze(buffers[1]); });
    dehaze(buffers[0]);
    other.join();
    first += kFrames;
  }
  CountFrames(state);
}

BENCHMARK(BM_ClipFramesFreshImages)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_ClipFramesOneAtATime)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_ClipFramesTwoAtOnce)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace
}  // namespace vantorel
