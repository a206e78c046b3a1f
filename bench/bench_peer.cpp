// The dehazer a user would otherwise write (dark channel prior and a guided filter on
// OpenCV), timed single-threaded on the same picture as BM_DehazeCPU, so that milliseconds
// per megapixel compare directly.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>

#include "bench_scenes.h"
#include "peer_dehazer.h"

namespace vantorel {
namespace {

// Keeps OpenCV's own parallel loops on one thread while alive.
class OpenCvSingleThread {
 public:
  OpenCvSingleThread() : previous_(cv::getNumThreads()) { cv::setNumThreads(1); }
  ~OpenCvSingleThread() { cv::setNumThreads(previous_); }
  OpenCvSingleThread(const OpenCvSingleThread&) = delete;
  OpenCvSingleThread& operator=(const OpenCvSingleThread&) = delete;

 private:
  int previous_;
};

void BM_PeerDehaze(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0)), cols = static_cast<int>(state.range(1));
  const cv::Mat picture = HazyScene(rows, cols);
  const OpenCvSingleThread single_thread;
  for (auto _ : state) {
    cv::Mat out = PeerDehaze(picture);
    benchmark::DoNotOptimize(out.data);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rows) * cols);
}

BENCHMARK(BM_PeerDehaze)
    ->Args({1000, 1000})
    ->Args({1080, 1920})
    ->Args({3000, 4000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace vantorel
