// Pipeline timings on a generated hazy picture: each stage on its own, and DehazeCPU end
// to end, at 1 and 12 megapixels, in both looks.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench_scenes.h"
#include "filters/bilateral_filters.h"
#include "reference_filters.h"
#include "imagedehaze/airlight.h"
#include "imagedehaze/auto_adjust.h"
#include "imagedehaze/dehaze.h"
#include "imagedehaze/huge_page_allocator.h"
#include "imagedehaze/normalize.h"
#include "imagedehaze/recover_radiance.h"
#include "imagedehaze/transmission.h"
#include "imagedehaze/transmission_steps.h"

namespace vantorel {
namespace {

struct Stages {
  cv::Mat normalized, ycrcb, transmission;
  cv::Vec3f airlight;
  explicit Stages(const cv::Mat& picture) {
    normalized = NormalizeByLargestSample(picture, LargestSample(picture));
    cv::cvtColor(normalized, ycrcb, cv::COLOR_BGR2YCrCb);
    airlight = EstimateAirlightCPU(normalized);
    transmission = EstimateTransmissionCPU(normalized, airlight, ycrcb, 0.81f);
  }
};

void SetPixels(benchmark::State& state, int rows, int cols) {
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rows) * cols);
}

int Rows(const benchmark::State& state) { return static_cast<int>(state.range(0)); }
int Cols(const benchmark::State& state) { return static_cast<int>(state.range(1)); }

void BM_Airlight(benchmark::State& state) {
  const Stages s(HazyScene(Rows(state), Cols(state)));
  for (auto _ : state) benchmark::DoNotOptimize(EstimateAirlightCPU(s.normalized));
  SetPixels(state, Rows(state), Cols(state));
}

// The divisor every picture is normalised by, looked for before anything else can start.
void BM_LargestSample(benchmark::State& state) {
  const cv::Mat picture = HazyScene(Rows(state), Cols(state));
  for (auto _ : state) benchmark::DoNotOptimize(LargestSample(picture));
  SetPixels(state, Rows(state), Cols(state));
}

// The same estimate read from the bytes through the table of normalised levels, as the
// pipeline does.
void BM_AirlightFromSource(benchmark::State& state) {
  const cv::Mat picture = HazyScene(Rows(state), Cols(state));
  const cv::Mat levels = NormalizedLevels(picture.depth(), LargestSample(picture));
  for (auto _ : state) benchmark::DoNotOptimize(EstimateAirlightFromSource(picture, levels));
  SetPixels(state, Rows(state), Cols(state));
}

void BM_DarkChannel(benchmark::State& state) {
  const Stages s(HazyScene(Rows(state), Cols(state)));
  cv::Mat dark;
  for (auto _ : state) {
    DarkChannel(s.normalized, s.airlight, dark);
    benchmark::DoNotOptimize(dark.data);
  }
  SetPixels(state, Rows(state), Cols(state));
}

void BM_DarkChannelFromSource(benchmark::State& state) {
  const cv::Mat picture = HazyScene(Rows(state), Cols(state));
  const Stages s(picture);
  const cv::Mat levels = NormalizedLevels(picture.depth(), LargestSample(picture));
  cv::Mat dark;
  for (auto _ : state) {
    DarkChannelFromSource(picture, levels, s.airlight, dark);
    benchmark::DoNotOptimize(dark.data);
  }
  SetPixels(state, Rows(state), Cols(state));
}

void BM_Transmission(benchmark::State& state) {
  const Stages s(HazyScene(Rows(state), Cols(state)));
  for (auto _ : state) {
    cv::Mat t = EstimateTransmissionCPU(s.normalized, s.airlight, s.ycrcb, 0.81f);
    benchmark::DoNotOptimize(t.data);
  }
  SetPixels(state, Rows(state), Cols(state));
}

void BM_RecoverRadiance(benchmark::State& state) {
  const Stages s(HazyScene(Rows(state), Cols(state)));
  for (auto _ : state) {
    cv::Mat d = RecoverRadianceCPU(s.ycrcb, s.airlight, s.transmission);
    benchmark::DoNotOptimize(d.data);
  }
  SetPixels(state, Rows(state), Cols(state));
}

void BM_AutoAdjust(benchmark::State& state) {
  cv::Mat picture;
  HazyScene(Rows(state), Cols(state)).convertTo(picture, CV_32FC3, 1.0 / 255.0);
  for (auto _ : state) {
    state.PauseTiming();
    cv::Mat work = picture.clone();
    state.ResumeTiming();
    benchmark::DoNotOptimize(AutoAdjustCPU(work));
  }
  SetPixels(state, Rows(state), Cols(state));
}

void BM_FinalFilter(benchmark::State& state) {
  const cv::Mat picture = HazyScene(Rows(state), Cols(state));
  cv::Mat output;
  for (auto _ : state) {
    Bilateral8UC3CPU(picture, output, 4.0, 0.02);
    benchmark::DoNotOptimize(output.data);
  }
  SetPixels(state, Rows(state), Cols(state));
}

void BM_DehazeCPU(benchmark::State& state) {
  const cv::Mat picture = HazyScene(Rows(state), Cols(state));
  for (auto _ : state) {
    state.PauseTiming();
    cv::Mat work = picture.clone();
    state.ResumeTiming();
    benchmark::DoNotOptimize(DehazeCPU(work.data, work.cols, work.rows, 0.9f));
  }
  SetPixels(state, Rows(state), Cols(state));
}

// The photo of the shared samples, scaled to about 12 MP (4619 x 2598), or empty when it
// cannot be read.
cv::Mat PhotoAt12Megapixels() { return BenchPhoto(cv::Size(4619, 2598)); }

// range(0): 1 to keep freed images' mappings from call to call (as a batch, the server
// and the Python package do), 0 to unmap them (as a single picture's run does).
void BM_DehazeCPUPhoto(benchmark::State& state) {
  const cv::Mat picture = PhotoAt12Megapixels();
  if (picture.empty()) {
    state.SkipWithError("no photo: set VANTOREL_BENCH_PHOTO");
    return;
  }
  KeepFreedMappings(state.range(0) == 1);
  for (auto _ : state) {
    state.PauseTiming();
    cv::Mat work = picture.clone();
    state.ResumeTiming();
    benchmark::DoNotOptimize(DehazeCPU(work.data, work.cols, work.rows, 0.9f));
  }
  KeepFreedMappings(false);
  SetPixels(state, picture.rows, picture.cols);
}
BENCHMARK(BM_DehazeCPUPhoto)->ArgName("kept")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The two looks side by side at 12 MP, on the photo and on the generated scene: the natural
// look's added erosion and box means against its smaller grids.
void BM_DehazeCPULook(benchmark::State& state) {
  const cv::Mat picture = state.range(1) == 1 ? PhotoAt12Megapixels() : HazyScene(3000, 4000);
  if (picture.empty()) {
    state.SkipWithError("no photo: set VANTOREL_BENCH_PHOTO");
    return;
  }
  DehazeOptions options;
  options.look = state.range(0) == 1 ? Look::kNatural : Look::kClassic;
  for (auto _ : state) {
    state.PauseTiming();
    cv::Mat work = picture.clone();
    state.ResumeTiming();
    benchmark::DoNotOptimize(DehazeCPU(work.data, work.cols, work.rows, 0.9f, options));
  }
  SetPixels(state, picture.rows, picture.cols);
}
BENCHMARK(BM_DehazeCPULook)
    ->ArgNames({"natural", "photo"})
    ->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// The same with the straightforward reference filters and one thread, for comparison; at
// 1 MP only (at 12 MP the reference filters need several gigabytes and a minute).
void BM_DehazeCPUReference(benchmark::State& state) {
  const cv::Mat picture = HazyScene(Rows(state), Cols(state));
  setenv("VANTOREL_THREADS", "1", 1);
  for (auto _ : state) {
    state.PauseTiming();
    cv::Mat work = picture.clone();
    state.ResumeTiming();
    benchmark::DoNotOptimize(ReferenceDehazeCPU(work.data, work.cols, work.rows, 0.9f));
  }
  unsetenv("VANTOREL_THREADS");
  SetPixels(state, Rows(state), Cols(state));
}
BENCHMARK(BM_DehazeCPUReference)->Args({1000, 1000})->Unit(benchmark::kMillisecond)->UseRealTime();

#define VANTOREL_SIZES ->Args({1000, 1000})->Args({1080, 1920})->Args({3000, 4000})->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_LargestSample) VANTOREL_SIZES;
BENCHMARK(BM_Airlight) VANTOREL_SIZES;
BENCHMARK(BM_AirlightFromSource) VANTOREL_SIZES;
BENCHMARK(BM_DarkChannel) VANTOREL_SIZES;
BENCHMARK(BM_DarkChannelFromSource) VANTOREL_SIZES;
BENCHMARK(BM_Transmission) VANTOREL_SIZES;
BENCHMARK(BM_RecoverRadiance) VANTOREL_SIZES;
BENCHMARK(BM_AutoAdjust) VANTOREL_SIZES;
BENCHMARK(BM_FinalFilter) VANTOREL_SIZES;
BENCHMARK(BM_DehazeCPU) VANTOREL_SIZES;

}  // namespace
}  // namespace vantorel
