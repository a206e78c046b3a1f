// The cost of one parallel loop as the pipeline meets it: two tasks of about 40
// microseconds each, after a serial step of the same length on the calling thread, on the
// process's threads. Against the same work done on one thread, the difference is what a
// loop costs beyond its tasks: mostly the time a sleeping worker takes to wake.
#include <benchmark/benchmark.h>

#include <chrono>

#include "filters/parallel_for.h"
#include "filters/schedule.h"

namespace vantorel {
namespace {

// About `microseconds` of arithmetic that the compiler cannot drop.
double Spin(double microseconds) {
  double sum = 0.0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double, std::micro>(microseconds);
  while (std::chrono::steady_clock::now() < until) sum += 1.0;
  return sum;
}

// range(0): threads. With 1 the loop runs on the caller alone and the time is the work.
void BM_LoopAfterSerialStep(benchmark::State& state) {
  const ScopedThreadCount count(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(Spin(40.0));
    ParallelFor(2, [](int) { benchmark::DoNotOptimize(Spin(40.0)); });
  }
}
BENCHMARK(BM_LoopAfterSerialStep)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace vantorel
