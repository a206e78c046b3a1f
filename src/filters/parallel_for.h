// Running independent tasks on the machine's cores.
#pragma once

#include <cstddef>
#include <functional>

namespace vantorel {

// Threads to use: the count given to SetThreadCount, else VANTOREL_THREADS when set to a
// positive number, else the cores the machine has. Results never depend on it.
int WorkerCount();

// Runs task(0) .. task(count - 1), spread over at most WorkerCount() threads, and returns
// when all are done. The first exception a task throws is rethrown here.
void ParallelFor(int count, const std::function<void(int)>& task);

// Per-pixel loops below this many pixels a task are not worth a thread.
constexpr size_t kPixelsPerTask = size_t{1} << 16;

// Rows of `columns` pixels that make about kPixelsPerTask pixels: the grain for splitting
// a picture into bands of whole rows.
inline size_t RowsPerTask(int columns) {
  const size_t row = static_cast<size_t>(columns > 0 ? columns : 1);
  return (kPixelsPerTask + row - 1) / row;
}

// Splits [0, count) into contiguous ranges of at least `grain` elements and runs
// body(begin, end) on them in parallel. For per-element work whose elements are
// independent, so that the split changes nothing but the speed.
void ParallelForRange(size_t count, size_t grain, const std::function<void(size_t, size_t)>& body);

}  // namespace vantorel
