#include "filters/schedule.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "vantorel/dehaze.h"

namespace vantorel {

namespace {
std::atomic<int> chosen_thread_count{0};  // 0: not chosen by the caller
thread_local int call_thread_count = 0;  // 0: none set on this thread
thread_local bool bottom_up_bands = false;
}  // namespace

ScopedBottomUpBands::ScopedBottomUpBands(bool bottom_up) : saved_(bottom_up_bands) { bottom_up_bands = bottom_up; }

ScopedBottomUpBands::~ScopedBottomUpBands() { bottom_up_bands = saved_; }

bool BandsBottomUp() { return bottom_up_bands; }

ScopedThreadCount::ScopedThreadCount(int count) : saved_(call_thread_count) {
  if (count > 0) call_thread_count = std::min(count, kMaxThreads);
}

ScopedThreadCount::~ScopedThreadCount() { call_thread_count = saved_; }

void SetThreadCount(int count) { chosen_thread_count = std::clamp(count, 0, kMaxThreads); }

int ThreadCount() { return WorkerCount(); }

int WorkerCount() {
  if (call_thread_count > 0) return call_thread_count;
  if (const int chosen = chosen_thread_count.load(); chosen > 0) return chosen;
  if (const int named = ThreadCountOfVariable(std::getenv("VANTOREL_THREADS")); named > 0) return named;
  return std::max(1u, std::thread::hardware_concurrency());
}

int ThreadCountOfVariable(const char* text) {
  if (text == nullptr) return 0;
  if (*text == '+') ++text;
  if (*text == '\0') return 0;
  int value = 0;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return 0;
    value = value * 10 + (*text - '0');
    if (value > kMaxThreads) return 0;
  }
  return value;
}

size_t RowsPerTask(int columns) {
  if (const int rows = BandRowsOverride(); rows > 0) return static_cast<size_t>(rows);
  const size_t row = static_cast<size_t>(columns > 0 ? columns : 1);
  return (kPixelsPerTask + row - 1) / row;
}

int ToneBandRows(int columns) {
  if (const int rows = BandRowsOverride(); rows > 0) return rows;
  // The band and its two colour conversions, three floats a pixel each: about 600 KB.
  constexpr int kPixelsPerBand = 16384;
  return std::max(1, kPixelsPerBand / std::max(columns, 1));
}

int32_t GridBandRows(int32_t height, int32_t z_size, double sigma_s) {
  if (const int rows = BandRowsOverride(); rows > 0) return rows;
  // A stream keeps eleven slices of values and weights: 176 bytes per cell of a grid row.
  constexpr double kSliceBytes = 512.0 * 1024.0;
  const double grid_rows = kSliceBytes / (176.0 * std::max(z_size, 1));
  // Bands much shorter than their halo of four grid rows would mostly recompute it.
  // But the read-back walks each run of pixel columns down the whole band: beyond a few
  // hundred rows that walk's rows fall out of the second-level cache and the TLB's reach,
  // which costs more than the halo saved (a tenth of the whole pipeline at 12 MP).
  // With cells of a hundred pixels and more, though, a band of 320 rows is a fraction of
  // one grid row and mostly halo: such bands are made six cells tall.
  constexpr double kReadBackRows = 320.0;
  const double longest = std::max(kReadBackRows, 6.0 * sigma_s);
  const double rows = std::min(std::max(grid_rows, 32.0) * sigma_s, longest);
  return rows >= height ? std::max(height, 1) : std::max(static_cast<int32_t>(rows), 1);
}

int32_t GridBandCount(int32_t height, int32_t longest, int workers) {
  const int64_t rows = std::max(height, 1), most = std::max(longest, 1);
  const int64_t fewest = (rows + most - 1) / most;
  if (fewest <= 1 || workers <= 1) return static_cast<int32_t>(fewest);
  return static_cast<int32_t>(std::min(rows, (fewest + workers - 1) / workers * workers));
}

int32_t GridBuildBandRows(int32_t height) {
  if (const int rows = BandRowsOverride(); rows > 0) return rows;
  return std::max(height, 1);
}

int32_t GridBuildLeastStolenSlices() { return 8; }

__attribute__((weak)) int BandRowsOverride() { return 0; }

}  // namespace vantorel
