// The benchmarks' entry: images are allocated as the command-line tool allocates them
// (large ones on huge pages), so that the figures are the tool's.
#include <benchmark/benchmark.h>

#include "main/huge_page_allocator.h"

int main(int argc, char** argv) {
  vantorel::UseHugePagesForLargeImages();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
