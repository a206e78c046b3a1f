// Filter timings on generated pictures: the grid core on one channel and the 8-bit
// three-channel filter, at the final filter's sigmas (4 pixels, 0.02 of the range).
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>

#include "filters/bilateral_filters.h"
#include "filters/bilateral_grid.h"

namespace vantorel {
namespace {

// A smooth gradient with noise: a realistic spread of edge values per grid column.
cv::Mat BenchPicture(int rows, int cols) {
  cv::Mat picture(rows, cols, CV_8UC3);
  cv::RNG rng(1);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) {
      const int base = (x * 255) / cols;
      picture.at<cv::Vec3b>(y, x) = cv::Vec3b(cv::saturate_cast<uchar>(base + rng.uniform(-8, 9)),
                                              cv::saturate_cast<uchar>((y * 255) / rows),
                                              cv::saturate_cast<uchar>(255 - base));
    }
  }
  return picture;
}

void BM_GridCoreOneChannel(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const cv::Mat picture = BenchPicture(side, side);
  WorkMatrix values(side, side, 0.0);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) values(x, y) = picture.at<cv::Vec3b>(y, x)[0] / 255.0;
  WorkMatrix result;
  for (auto _ : state) {
    BilateralGridCPU(values, values, 4.0, 0.02, result);
    benchmark::DoNotOptimize(result.storage.data());
  }
  state.SetItemsProcessed(state.iterations() * side * side);
}
BENCHMARK(BM_GridCoreOneChannel)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_Bilateral8UC3(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const cv::Mat picture = BenchPicture(side, side);
  cv::Mat output;
  for (auto _ : state) {
    Bilateral8UC3CPU(picture, output, 4.0, 0.02);
    benchmark::DoNotOptimize(output.data);
  }
  state.SetItemsProcessed(state.iterations() * side * side);
}
BENCHMARK(BM_Bilateral8UC3)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantorel
