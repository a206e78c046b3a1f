// The cost of one parallel loop as the pipeline meets it: two tasks of about 40
// microseconds each, after a serial step of the same length on the calling thread, on the
// process's threads. Against the same work done on one thread, the difference is what a
// loop costs beyond its tasks: mostly the time a sleeping worker takes to wake.
//
// And the machine's own second core: the same arithmetic on one thread and, as much of it
// again, on each of two, with no memory traffic and nothing shared. Where two cores are
// two cores the times are equal; where they share one core's arithmetic units (two
// hardware threads of one core, or a host that runs both virtual processors on one), the
// second time is up to twice the first.
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

// Thirty-two independent chains of multiplications and additions: enough to keep a core's
// floating-point units busy, from registers alone.
double Arithmetic(int steps) {
  double chains[32];
  for (int c = 0; c < 32; ++c) chains[c] = 1.0 + c;
  for (int i = 0; i < steps; ++i) {
    for (double& chain : chains) chain = chain * 0.999999 + 1e-7;
  }
  double sum = 0.0;
  for (const double chain : chains) sum += chain;
  return sum;
}

// range(0): threads, each doing the same arithmetic (about 10 ms of it).
void BM_IndependentArithmetic(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  const ScopedThreadCount count(threads);
  for (auto _ : state) {
    ParallelFor(threads, [](int) { benchmark::DoNotOptimize(Arithmetic(1'000'000)); });
  }
}
BENCHMARK(BM_IndependentArithmetic)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vantorel
