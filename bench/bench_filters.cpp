// Filter timings on generated pictures: the grid core on one channel, streaming and
// reference, and the 8-bit three-channel filter, fast and reference; and on the shared photo
// at 1920x1080 the 8-bit filter, as the pipeline calls it last, and the float channel filter
// of the recovery.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>

#include "bench_scenes.h"
#include "filters/bilateral_filters.h"
#include "bilateral_grid.h"
#include "reference_filters.h"
#include "reference_grid.h"

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

// One channel of rows x cols in a work matrix, filtered by itself with the sigmas given in
// hundredths (range(2) sigma_s, range(3) sigma_r), by the streaming or the reference core.
template <bool kReference>
void BM_GridCore(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0)), cols = static_cast<int>(state.range(1));
  const double sigma_s = state.range(2) / 100.0, sigma_r = state.range(3) / 100.0;
  const cv::Mat picture = BenchPicture(rows, cols);
  WorkMatrix values(cols, rows, 0.0);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x) values(x, y) = picture.at<cv::Vec3b>(y, x)[0] / 255.0;
  WorkMatrix result;
  for (auto _ : state) {
    if (kReference) {
      BilateralGridReferenceCPU(values, values, sigma_s, sigma_r, result);
    } else {
      BilateralGridCPU(values, values, sigma_s, sigma_r, result);
    }
    benchmark::DoNotOptimize(result.storage.data());
  }
  state.SetItemsProcessed(state.iterations() * rows * cols);
}
// The final 8-bit filter's sigmas (4, 0.02) and the recovery's (35, 0.2), at 1 and 12 MP.
#define VANTOREL_CORE_CASES                                                                  \
  ->Args({1000, 1000, 400, 2})->Args({1000, 1000, 3500, 20})->Args({3000, 4000, 400, 2})   \
      ->Args({3000, 4000, 3500, 20})->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK_TEMPLATE(BM_GridCore, false) VANTOREL_CORE_CASES;
BENCHMARK_TEMPLATE(BM_GridCore, true) VANTOREL_CORE_CASES;

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
BENCHMARK(BM_Bilateral8UC3)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Bilateral8UC3Photo1080(benchmark::State& state) {
  const cv::Mat picture = BenchPhoto(cv::Size(1920, 1080));
  if (picture.empty()) {
    state.SkipWithError("no photo: set VANTOREL_BENCH_PHOTO");
    return;
  }
  cv::Mat output;
  for (auto _ : state) {
    Bilateral8UC3CPU(picture, output, 4.0, 0.02);
    benchmark::DoNotOptimize(output.data);
  }
  state.SetItemsProcessed(state.iterations() * picture.total());
}
BENCHMARK(BM_Bilateral8UC3Photo1080)->Unit(benchmark::kMillisecond)->UseRealTime();

// The recovery's coarse filter (cells of 35 pixels, 0.2 of the range) on each channel of
// the photo at 1920x1080 as floats, handed over in bands as the pipeline takes it.
void BM_BilateralChannelPhoto1080(benchmark::State& state) {
  const cv::Mat photo = BenchPhoto(cv::Size(1920, 1080));
  if (photo.empty()) {
    state.SkipWithError("no photo: set VANTOREL_BENCH_PHOTO");
    return;
  }
  cv::Mat picture;
  photo.convertTo(picture, CV_32FC3, 1.0 / 255.0);
  for (auto _ : state) {
    for (int k = 0; k < 3; ++k) {
      BilateralChannelInBandsCPU(picture, k, 35.0, 0.2,
                                 [](int, int, const float* values) { benchmark::DoNotOptimize(values); });
    }
  }
  state.SetItemsProcessed(state.iterations() * picture.total() * 3);
}
BENCHMARK(BM_BilateralChannelPhoto1080)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Bilateral8UC3Reference(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const cv::Mat picture = BenchPicture(side, side);
  cv::Mat output;
  for (auto _ : state) {
    Bilateral8UC3ReferenceCPU(picture, output, 4.0, 0.02);
    benchmark::DoNotOptimize(output.data);
  }
  state.SetItemsProcessed(state.iterations() * side * side);
}
BENCHMARK(BM_Bilateral8UC3Reference)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vantorel
