// The schedule, kept apart from the arithmetic: how many threads, and how pictures and
// grids are cut into tasks, bands and tiles. Nothing here changes a result, only the
// order in which independent pieces are computed and where they run; the tests set the
// band size to extremes to show it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantorel {

// Threads to use: the count of the innermost ScopedThreadCount on this thread, else the
// count given to SetThreadCount, else VANTOREL_THREADS when set to a positive number, else
// the cores the machine has.
int WorkerCount();

// The most threads a count may name.
constexpr int kMaxThreads = 256;

// The count a VANTOREL_THREADS value names: digits, after an optional '+', from 1 to
// kMaxThreads (a larger value, even one past what a long holds, is a mistake, not a request
// for the most); 0 for anything else. The one reading of the variable: the library's and
// the command line's check of it.
int ThreadCountOfVariable(const char* text);

// Sets this thread's count for WorkerCount() while it lives (a count of 0 or less leaves it
// as it was): the thread count of one call, beside the process-wide one.
class ScopedThreadCount {
 public:
  explicit ScopedThreadCount(int count);
  ~ScopedThreadCount();
  ScopedThreadCount(const ScopedThreadCount&) = delete;
  ScopedThreadCount& operator=(const ScopedThreadCount&) = delete;

 private:
  int saved_;
};

// Makes ParallelForRowBands on this thread hand its bands out from the last up, while it
// lives, when `bottom_up`. For two tasks side by side that write different samples of the
// same pixels: one going down and the other up, they meet in one band instead of writing
// the same cache lines from two cores all the way through the picture.
class ScopedBottomUpBands {
 public:
  explicit ScopedBottomUpBands(bool bottom_up);
  ~ScopedBottomUpBands();
  ScopedBottomUpBands(const ScopedBottomUpBands&) = delete;
  ScopedBottomUpBands& operator=(const ScopedBottomUpBands&) = delete;

 private:
  bool saved_;
};

// Whether ParallelForRowBands on this thread hands its bands out from the last up.
bool BandsBottomUp();

// Per-pixel loops below this many pixels a task are not worth a thread.
constexpr size_t kPixelsPerTask = size_t{1} << 16;

// Rows of `columns` pixels that make about kPixelsPerTask pixels: the bands of whole rows
// in which library calls that treat every row on its own run in parallel.
size_t RowsPerTask(int columns);

// Rows of `columns` pixels per band of the tone adjustment: the band, its colour
// conversions and its toned copy stay within a core's second-level cache.
int ToneBandRows(int columns);

// Grid filter: enough pixel columns per task that the slices recomputed at task borders
// stay a small share; pixels placed together on the fill: a whole tile of cells of 35
// pixels, its values and cells (12 bytes a pixel) within the first-level cache.
constexpr int32_t kMinColumnsPerTask = 64;
constexpr int32_t kBatchPixels = 2048;

// Pixel rows per band of the grid filter of a picture `height` rows tall, on a grid of
// z_size cells along z with cells of sigma_s pixels: as many as keep one task's slices (a
// band's grid rows and its halo) within about half a core's second-level cache, and no
// more than a few hundred rows (or six cells, where cells are over 53 pixels tall).
int32_t GridBandRows(int32_t height, int32_t z_size, double sigma_s);

// Bands for a grid filter of `height` rows in bands of at most `longest` rows: the fewest
// that do, rounded up to a multiple of `workers`, so that each thread gets as many bands
// of (nearly) the same height: four of 270 rows rather than three of 320 and one of 120 at
// 1080 rows on two threads. Never more bands than rows.
int32_t GridBandCount(int32_t height, int32_t longest, int workers);

// Pixel rows per band when a whole grid is built before anything is read back (see
// grid_in_bands.h): all of them, so that no grid row is filled or blurred twice for the
// halos of two bands; the threads split the columns instead.
int32_t GridBuildBandRows(int32_t height);

// The fewest slices a thread building a whole grid takes over from another's piece of
// columns once it has begun: the slices beside the new start are filled and blurred
// again (about four slices' fill), which only pays when enough are left.
int32_t GridBuildLeastStolenSlices();

// Pixels whose logarithms the tone curve takes in parallel before summing them in order.
constexpr size_t kLogBlock = size_t{1} << 18;

// Rows for every band above (and those of the grid filter) when positive, else 0 and the
// schedule chooses. The library's own definition is weak and returns 0; the tests link one
// that forces extreme bands, to show that no result depends on them.
int BandRowsOverride();

}  // namespace vantorel
