// The bilateral grid filter with its result handed over in bands of rows, for a caller
// that works on each band as soon as it is smoothed and may write over the source while
// doing so.
//
// The streaming core reads source pixels of neighbouring bands until its last task ends,
// so its result needs a plane of its own. Here the normalised grid is built whole first
// (by the same bands and passes as the streaming core, so every cell is the same), and
// only then read back, band by band, into a small buffer handed to the caller. From then
// on a band's read-back reads the edges of its own rows only. With cells of tens of pixels
// the whole grid is a few megabytes; when it would be larger than a plane of results, the
// result goes through a plane instead.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "filters/grid_stream.h"

namespace vantorel {

namespace grid_in_bands {

// The building phase writes no pixels.
struct NoSink {};

// A plane of float results, row after row.
struct PlaneSink {
  float* data;
  size_t width;
  float* Pointer(int32_t x, int32_t y) const { return data + static_cast<size_t>(y) * width + x; }
  size_t Stride() const { return 1; }
};

// The slices of one band of a grid shared out between the streams that build them, one
// piece of columns each at first. A stream takes its piece's slices in order, going up: a
// stream fills its slices about twice as fast going up as going down, where the
// hardware prefetchers do not follow the image rows. One that has run out takes the
// whole piece of a stream that has not begun yet, else the upper half of the piece with
// the most slices left, if enough are left to pay for the slices beside its new start,
// which it computes again (GridBuildLeastStolenSlices).
class SharedSlices {
 public:
  // Piece i: slices first[i] .. first[i + 1] - 1.
  explicit SharedSlices(const std::vector<int32_t>& first) {
    for (size_t i = 0; i + 1 < first.size(); ++i) pieces_.push_back(Piece{first[i], first[i + 1], false});
  }
  // The next slice for stream `stream`; false when none is left for it.
  bool Claim(size_t stream, int32_t& x) {
    const std::lock_guard<std::mutex> hold(lock_);
    Piece& own = pieces_[stream];
    if (own.next >= own.end) {
      size_t most = stream;
      for (size_t i = 0; i < pieces_.size(); ++i) {
        if (pieces_[i].Left() > pieces_[most].Left()) most = i;
      }
      Piece& other = pieces_[most];
      if (!other.begun && other.Left() > 0) {
        own = Piece{other.next, other.end, false};
        other.end = other.next;
      } else if (other.Left() >= GridBuildLeastStolenSlices()) {
        const int32_t middle = other.next + other.Left() / 2;
        own = Piece{middle, other.end, false};
        other.end = middle;
      } else {
        return false;
      }
    }
    own.begun = true;
    x = own.next++;
    return true;
  }

 private:
  struct Piece {
    int32_t next, end;  // the slices [next, end) are left
    bool begun;
    int32_t Left() const { return end - next; }
  };
  std::mutex lock_;
  std::vector<Piece> pieces_;
};

// Stores the normalised slices a claim hands out, of grid rows y_first .. y_last, computed
// for the pixel rows [row_begin, row_end) (see SliceStream::StoreNormalisedSlice).
// `claim(x)` sets the next slice, or returns false when there is none.
template <typename Count, typename Source, typename Claim>
void StoreClaimedSlicesCounting(const Source& source, const GridPlan<Source>& plan, int32_t row_begin,
                                int32_t row_end, int32_t y_first, int32_t y_last, const Claim& claim,
                                std::vector<std::vector<double>>& grid) {
  int32_t x;
  if (!claim(x)) return;  // no stream is set up for nothing
  const NoSink no_sink;
  SliceStream<Source, NoSink, Count> stream(source, no_sink, plan, row_begin, row_end);
  do {
    stream.StoreNormalisedSlice(x, y_first, y_last, grid);
  } while (claim(x));
}

template <typename Source, typename Claim>
void StoreClaimedSlices(const Source& source, const GridPlan<Source>& plan, int32_t row_begin, int32_t row_end,
                        int32_t y_first, int32_t y_last, const Claim& claim,
                        std::vector<std::vector<double>>& grid) {
  if (plan.int32_counts) {
    StoreClaimedSlicesCounting<int32_t>(source, plan, row_begin, row_end, y_first, y_last, claim, grid);
  } else {
    StoreClaimedSlicesCounting<int64_t>(source, plan, row_begin, row_end, y_first, y_last, claim, grid);
  }
}

// The whole normalised grid: one array per slice, as SliceStream::StoreNormalisedSlice
// fills it. Nothing is read back while it is built, so its bands may be as tall as the
// picture: each grid row is then filled and blurred once, with no halo rows computed
// twice, and the threads share the columns, a piece each to begin with (SharedSlices:
// a thread done early takes over slices of another's piece, so neither waits long for
// the other when the pieces differ in work or a thread starts late).
template <typename Source>
std::vector<std::vector<double>> BuildNormalisedGrid(const Source& source, const GridPlan<Source>& plan,
                                                     int32_t width, int32_t height) {
  const GridGeometry& g = plan.g;
  std::vector<std::vector<double>> grid(
      g.x_size, std::vector<double>(static_cast<size_t>(g.y_size) * static_cast<size_t>(g.z_size), 0.0));
  const GridTasks tasks(width, height, GridBuildBandRows(height));
  // Each piece from the first slice its pixels sample up to the first the next piece's
  // pixels sample: the pieces cover the grid once.
  std::vector<int32_t> first(1, 0);
  for (int32_t part = 1; part < tasks.parts; ++part) {
    first.push_back(static_cast<int32_t>(plan.xs[tasks.At(part).begin].lower));
  }
  first.push_back(g.x_size);
  std::deque<SharedSlices> bands;
  for (int32_t band = 0; band < tasks.bands; ++band) bands.emplace_back(first);
  ParallelFor(tasks.Count(), [&](int task) {
    const GridTasks::Task t = tasks.At(task);
    // The grid rows this band stores: from the first its pixels sample up to the first
    // the next band's pixels sample.
    const int32_t y_first = t.band == 0 ? 0 : static_cast<int32_t>(plan.ys[t.row_begin].lower);
    const int32_t y_last =
        t.band == tasks.bands - 1 ? g.y_size - 1 : static_cast<int32_t>(plan.ys[t.row_end].lower) - 1;
    SharedSlices& slices = bands[t.band];
    StoreClaimedSlices(source, plan, t.row_begin, t.row_end, y_first, y_last,
                       [&](int32_t& x) { return slices.Claim(t.part, x); }, grid);
  });
  return grid;
}

// The image rows of float edges, as SampleRowsOfEdgesVector asks for them.
template <typename Source>
struct EdgeRowsOfImage {
  Source source;
  const AxisPlace* ys;
  size_t z_size;
  int32_t first, width;
  float* values;

  __attribute__((always_inline)) auto At(int32_t y, RunRow& row) const {
    const AxisPlace yp = ys[y];
    row.row0 = static_cast<size_t>(yp.lower) * z_size;
    row.row1 = static_cast<size_t>(yp.upper) * z_size;
    row.dy = yp.fraction;
    return std::make_pair(static_cast<const float*>(source.EdgePointer(0, y)),
                          values + static_cast<size_t>(y - first) * width);
  }
};

// Rows [first, end) of float edges with the whole-row kernel, its edge stride fixed at
// compile time for the channels of plain and three-channel pictures.
template <typename Source>
void ReadBackRowsOfEdges(const Source& source, const GridPlan<Source>& plan, const std::vector<ColumnRun>& runs,
                         const std::vector<float>& dx, int32_t width, int32_t first, int32_t end, float* values) {
  const EdgeRowsOfImage<Source> rows{source, plan.ys.data(), static_cast<size_t>(plan.g.z_size), first, width, values};
  const size_t stride = source.EdgeStride();
  const ColumnRun* const r = runs.data();
  if (HasAvx512()) {
    if (stride == 1) return SampleRowsOfEdgesWide<1>(r, runs.size(), dx.data(), rows, stride, plan.g, first, end);
    if (stride == 3) return SampleRowsOfEdgesWide<3>(r, runs.size(), dx.data(), rows, stride, plan.g, first, end);
    return SampleRowsOfEdgesWide<0>(r, runs.size(), dx.data(), rows, stride, plan.g, first, end);
  }
  if (stride == 1) return SampleRowsOfEdgesVector<1>(r, runs.size(), dx.data(), rows, stride, plan.g, first, end);
  if (stride == 3) return SampleRowsOfEdgesVector<3>(r, runs.size(), dx.data(), rows, stride, plan.g, first, end);
  SampleRowsOfEdgesVector<0>(r, runs.size(), dx.data(), rows, stride, plan.g, first, end);
}

// Rows [first, end) read back from the whole grid into `values` (width floats a row).
template <typename Source>
void ReadBackRows(const Source& source, const GridPlan<Source>& plan, const std::vector<std::vector<double>>& grid,
                  const std::vector<std::pair<int32_t, int32_t>>& runs, const std::vector<float>& dx,
                  int32_t width, int32_t first, int32_t end, float* values) {
  const size_t z_size = static_cast<size_t>(plan.g.z_size);
  const bool vector = HasAvx2();
  for (const auto& [begin, run_end] : runs) {
    RunRow row{};
    row.lower = grid[plan.xs[begin].lower].data();
    row.upper = grid[plan.xs[begin].upper].data();
    row.dx = dx.data() + begin;
    row.count = run_end - begin;
    for (int32_t y = first; y < end; ++y) {
      const AxisPlace yp = plan.ys[y];
      row.row0 = static_cast<size_t>(yp.lower) * z_size;
      row.row1 = static_cast<size_t>(yp.upper) * z_size;
      row.dy = yp.fraction;
      const auto edges = EdgesOf(source, plan, begin, y);
      const ValuesOfRow<float> out{values + static_cast<size_t>(y - first) * width + begin, 1};
      if (vector) {
        SampleRunRowVector(row, edges, out);
      } else {
        SampleRunRowPlain(row, edges, out);
      }
    }
  }
}

}  // namespace grid_in_bands

// Filters a width x height source and calls consume(first, end, values) once for each band
// of rows [first, end), values holding its results as floats, width a row; bands run in
// parallel. `consume` may change the source's pixels of its own band: no other band
// reads them any more.
template <typename Source, typename Consume>
void BilateralGridInBands(const Source& source, int32_t width, int32_t height, double sigma_s, double sigma_r,
                          const Consume& consume) {
  using namespace grid_in_bands;
  const GridPlan<Source> plan(source, width, height, sigma_s, sigma_r);
  const GridGeometry& g = plan.g;
  const size_t grid_bytes = sizeof(double) * static_cast<size_t>(g.x_size) * g.y_size * g.z_size;
  const size_t plane_bytes = sizeof(float) * static_cast<size_t>(width) * height;
  const size_t band_rows = RowsPerTask(width);
  if (grid_bytes > plane_bytes) {
    std::vector<float> plane(static_cast<size_t>(width) * height);
    StreamBilateralGrid(source, PlaneSink{plane.data(), static_cast<size_t>(width)}, width, height, sigma_s,
                        sigma_r);
    ParallelForRowBands(height, band_rows, [&](int first, int end) {
      consume(first, end, static_cast<const float*>(plane.data() + static_cast<size_t>(first) * width));
    });
    return;
  }
  const std::vector<std::vector<double>> grid = BuildNormalisedGrid(source, plan, width, height);
  // Pixel columns that share their lower sample slice are read back together.
  std::vector<std::pair<int32_t, int32_t>> runs;
  for (int32_t begin = 0; begin < width;) {
    int32_t end = begin + 1;
    while (end < width && plan.xs[end].lower == plan.xs[begin].lower) ++end;
    runs.emplace_back(begin, end);
    begin = end;
  }
  std::vector<float> dx(width);
  for (int32_t x = 0; x < width; ++x) dx[x] = plan.xs[x].fraction;
  // Float edges go through the whole-row kernel when no edge's z corner is clamped.
  bool whole_rows = false;
  std::vector<ColumnRun> column_runs;
  if constexpr (EdgeLevelCount<Source>::value == 0) {
    whole_rows = HasAvx2() && plan.edges_below_last_cell;
    for (const auto& [begin, end] : runs) {
      column_runs.push_back(
          ColumnRun{grid[plan.xs[begin].lower].data(), grid[plan.xs[begin].upper].data(), begin, end - begin});
    }
  }
  ParallelForRowBands(height, band_rows, [&](int first, int end) {
    // Every value is written by the read-back: left uninitialised rather than zeroed first.
    const std::unique_ptr<float[]> values(new float[static_cast<size_t>(end - first) * width]);
    bool read = false;
    if constexpr (EdgeLevelCount<Source>::value == 0) {
      if (whole_rows) {
        ReadBackRowsOfEdges(source, plan, column_runs, dx, width, first, end, values.get());
        read = true;
      }
    }
    if (!read) ReadBackRows(source, plan, grid, runs, dx, width, first, end, values.get());
    consume(first, end, static_cast<const float*>(values.get()));
  });
}

}  // namespace vantorel
