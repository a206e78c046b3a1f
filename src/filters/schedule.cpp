#include "filters/schedule.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "vantorel/dehaze.h"

namespace vantorel {

namespace {
std::atomic<int> chosen_thread_count{0};  // 0: not chosen by the caller
std::atomic<int> band_rows_for_testing{0};
}  // namespace

void SetThreadCount(int count) { chosen_thread_count = std::clamp(count, 0, 256); }

int ThreadCount() { return WorkerCount(); }

int WorkerCount() {
  if (const int chosen = chosen_thread_count.load(); chosen > 0) return chosen;
  if (const char* text = std::getenv("VANTOREL_THREADS")) {
    char* end = nullptr;
    const long requested = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && requested > 0) return static_cast<int>(std::min(requested, 256L));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

size_t RowsPerTask(int columns) {
  if (const int rows = band_rows_for_testing.load(); rows > 0) return static_cast<size_t>(rows);
  const size_t row = static_cast<size_t>(columns > 0 ? columns : 1);
  return (kPixelsPerTask + row - 1) / row;
}

int ToneBandRows(int /*columns*/) {
  if (const int rows = band_rows_for_testing.load(); rows > 0) return rows;
  return 64;
}

void SetBandRowsForTesting(int rows) { band_rows_for_testing = std::max(rows, 0); }

int BandRowsForTesting() { return band_rows_for_testing.load(); }

}  // namespace vantorel
