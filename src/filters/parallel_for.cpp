// Running independent tasks on the machine's cores.
#include "filters/parallel_for.h"

#include <algorithm>

#include "filters/worker_pool.h"

namespace vantorel {

void ParallelFor(int count, const std::function<void(int)>& task) {
  RunOnWorkers(count, WorkerCount(), task);
}

void ParallelForRange(size_t count, size_t grain, const std::function<void(size_t, size_t)>& body) {
  const size_t by_grain = grain == 0 ? count : count / grain;
  const int parts = static_cast<int>(std::max<size_t>(1, std::min<size_t>(by_grain, WorkerCount())));
  ParallelFor(parts, [&](int part) {
    const size_t begin = count * part / parts;
    const size_t end = count * (part + 1) / parts;
    if (begin < end) body(begin, end);
  });
}

namespace {

int BandCount(int rows, size_t band_rows) {
  const size_t band = std::clamp<size_t>(band_rows, 1, static_cast<size_t>(rows));
  return static_cast<int>((static_cast<size_t>(rows) + band - 1) / band);
}

// Band b of `band_rows` rows (the last may be shorter) of a picture `rows` tall.
void RunBand(int rows, size_t band_rows, int b, const std::function<void(int, int)>& body) {
  const size_t height = static_cast<size_t>(rows);
  const size_t band = std::clamp<size_t>(band_rows, 1, height);
  const size_t first = static_cast<size_t>(b) * band;
  body(static_cast<int>(first), static_cast<int>(std::min(first + band, height)));
}

}  // namespace

void ParallelForRowBands(int rows, size_t band_rows, const std::function<void(int, int)>& body) {
  if (rows <= 0) return;
  const int bands = BandCount(rows, band_rows);
  const bool bottom_up = BandsBottomUp();
  ParallelFor(bands, [&](int b) { RunBand(rows, band_rows, bottom_up ? bands - 1 - b : b, body); });
}

void ParallelForRowBandsBeside(int rows, size_t band_rows, const std::function<void()>& beside,
                               const std::function<void(int, int)>& body) {
  const int bands = rows <= 0 ? 0 : BandCount(rows, band_rows);
  // Task 0 is the first the loop hands out.
  ParallelFor(bands + 1, [&](int task) {
    if (task == 0) {
      beside();
    } else {
      RunBand(rows, band_rows, task - 1, body);
    }
  });
}

void ParallelTasksSharingThreads(int count, const std::function<void(int)>& task) {
  if (count <= 0) return;
  const int threads = WorkerCount();
  if (threads <= 1 || count == 1) {
    for (int i = 0; i < count; ++i) task(i);
    return;
  }
  RunOnWorkers(count, std::min(threads, count), [&](int i) {
    const int share = std::max(1, threads / count + (i < threads % count ? 1 : 0));
    const ScopedThreadCount own(share);
    task(i);
  });
}

}  // namespace vantorel
