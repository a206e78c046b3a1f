// DehazeCPU on the bundled 1.7-megapixel sample photo, as the command line runs it: the
// C++ side of bench/python_bench.py, which times the Python call on the same pixels.
#include <benchmark/benchmark.h>

#include <cstring>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "imagedehaze/dehaze.h"

namespace vantorel {
namespace {

void BM_DehazeSample(benchmark::State& state) {
  const cv::Mat sample = cv::imread(VANTOREL_SOURCE_DIR "/samples/hazy_mountains.jpg", cv::IMREAD_COLOR);
  if (sample.empty()) {
    state.SkipWithError("cannot read samples/hazy_mountains.jpg");
    return;
  }
  cv::Mat work = sample.clone();
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(work.data, sample.data, sample.total() * sample.elemSize());
    state.ResumeTiming();
    DehazeCPU(work.data, work.cols, work.rows, 0.9f);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(sample.total()));
}

BENCHMARK(BM_DehazeSample)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vantorel
