// The bilateral grid, streamed along x.
//
// Why this is exact: every value cell of every pass is the same expression of the same
// cells as in the reference core, evaluated in the same widths, so it rounds the same; the
// weights are pixel counts that no pass rounds, kept as integers (grid_counts.h).
// What changes is which cells are evaluated and when:
//  - A blur of zeros is exactly zero. Each (x, y) column of the grid is non-zero only in a
//    z range around the edge values filled into it and its neighbours; cells outside that
//    range are known to be zero and are not computed.
//  - The x passes need two neighbouring slices on each side, the y and z passes only the
//    slice itself, and the read-back two adjacent slices. So the grid is produced one
//    x-slice at a time through small rings of slices, never whole.
//  - Value and weight live in separate arrays; only the normalised value is read back.
//  - Pixels are read where they lie (a work matrix, an image channel) through a Source,
//    and results go straight to a Sink, so no full-size copies are needed.
// A Source has Value(x, y) and Edge(x, y) as doubles, EdgeRange(emin, emax), and
// EdgePointer(x, y) with EdgeStride() for the read-back's rows; it may offer its edges as
// levels (see z_places.h). A Sink has Pointer(x, y) and Stride(): float, double, byte or
// 16-bit results (grid_row_kernels.h), written once per pixel, from several threads for disjoint
// columns.
// The hot loops copy the source, the sink and the places into locals: a sink that stores
// bytes could otherwise alias every member, and the compiler would reload them per pixel.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "filters/cpu_features.h"
#include "filters/edge_run_kernel.h"
#include "filters/grid_counts.h"
#include "filters/grid_row_kernels.h"
#include "filters/grid_stream_parts.h"
#include "filters/grid_z_places.h"
#include "filters/level_run_kernel.h"
#include "filters/parallel_for.h"
#include "filters/tile_sums.h"
#include "filters/z_places.h"

namespace vantorel {

// Whether a source's values and edges are floats it hands out by pointer, ValuePointer(x,
// y), ValueStride() and ValueRowBytes() beside EdgePointer, EdgeStride and EdgeRowBytes:
// the fill then reads and places them along the rows, several at a time
// (WidenAndFillCells).
template <typename Source, typename = void>
struct HasFloatSamples : std::false_type {};
template <typename Source>
struct HasFloatSamples<Source, std::void_t<decltype(std::declval<const Source&>().ValuePointer(0, 0))>>
    : std::bool_constant<std::is_same_v<decltype(std::declval<const Source&>().ValuePointer(0, 0)), const float*> &&
                         std::is_same_v<decltype(std::declval<const Source&>().EdgePointer(0, 0)), const float*>> {};

// Where a source's pixels go on the grid: its geometry, each pixel column's and row's
// places, and each edge's place along z. Not copied: the z placer points into it.
template <typename Source>
struct GridPlan {
  GridPlan(const Source& source, int32_t width, int32_t height, double sigma_s, double sigma_r)
      : GridPlan(source, width, height, sigma_s, sigma_r, EdgeRangeOf(source)) {}
  GridPlan(const GridPlan&) = delete;
  GridPlan& operator=(const GridPlan&) = delete;

  GridGeometry g;
  std::vector<AxisPlace> xs, ys;
  std::vector<int32_t> first_column, first_row;
  std::vector<AxisPlace> edge_levels;
  ZPlacer<Source> zs;
  LevelCorners level_corners;  // the edge levels' z corners as the vector read-back loads them
  std::vector<LevelFill> level_fills;  // what a pixel of each edge level adds, when its value is its edge
  bool edges_below_last_cell;  // no edge's upper z corner is clamped (EdgesBelowLastCell)
  bool int32_counts;  // the weights' numerators fit int32_t (grid_counts.h); else int64_t

 private:
  struct Range {
    double emin = 0.0, emax = 0.0;
  };
  static Range EdgeRangeOf(const Source& source) {
    Range range;
    source.EdgeRange(range.emin, range.emax);
    return range;
  }
  GridPlan(const Source& source, int32_t width, int32_t height, double sigma_s, double sigma_r, Range range)
      : g(MakeGridGeometry(width, height, range.emin, range.emax, sigma_s, sigma_r)),
        xs(PlaceAxis(width, sigma_s, g.x_size)),
        ys(PlaceAxis(height, sigma_s, g.y_size)),
        first_column(FirstColumnOfSlices(xs, g.x_size)),
        first_row(FirstColumnOfSlices(ys, g.y_size)),
        edge_levels(PlacesOfEdgeLevels(source, g, range.emax)),
        zs(g, edge_levels),
        level_corners(CornersOfLevels(edge_levels, [&](int level) {
          if constexpr (EdgeLevelCount<Source>::value > 0) {
            const double edge = source.EdgeOfLevel(level);
            return edge >= g.emin && edge <= range.emax;
          } else {
            return false;
          }
        })),
        level_fills(FillsOfEdgeLevels(source, edge_levels)),
        edges_below_last_cell(EdgesBelowLastCell(range.emax, g)),
        int32_counts(CountsFitInt32(MostPixelsOfACell(first_column, first_row))) {}
};

// The edges of row y from column x on, as the read-back's row kernels take them.
template <typename Source>
auto EdgesOf(const Source& source, const GridPlan<Source>& plan, int32_t x, int32_t y) {
  if constexpr (EdgeLevelCount<Source>::value > 0) {
    using T = std::remove_const_t<std::remove_pointer_t<decltype(source.EdgePointer(x, y))>>;
    return SampleLevelsOfRow<T>{source.EdgePointer(x, y), source.EdgeStride(), plan.zs.ByLevel()};
  } else {
    using T = std::remove_const_t<std::remove_pointer_t<decltype(source.EdgePointer(x, y))>>;
    return EdgesOfRow<T>{source.EdgePointer(x, y), source.EdgeStride(), &plan.g};
  }
}

// The tasks of a grid filter: bands of rows, each streamed on its own so that its slices
// stay in cache; when there are fewer bands than threads, each band's columns are split too.
struct GridTasks {
  int32_t width, height, bands, parts;
  int32_t fixed_rows;  // > 0: bands of exactly this many rows, the last shorter (BandRowsOverride)
  GridTasks(int32_t w, int32_t h, const GridGeometry& g) : GridTasks(w, h, GridBandRows(h, g.z_size, g.sigma_s)) {}
  // Bands of at most `longest` pixel rows, cut evenly between the threads (GridBandCount).
  GridTasks(int32_t w, int32_t h, int32_t longest) : width(w), height(h) {
    const int32_t workers = WorkerCount();
    fixed_rows = BandRowsOverride() > 0 ? std::max(longest, 1) : 0;
    bands = fixed_rows > 0 ? (h + fixed_rows - 1) / fixed_rows : GridBandCount(h, longest, workers);
    parts = bands >= workers ? 1 : std::max(1, std::min((workers + bands - 1) / bands, w / kMinColumnsPerTask));
  }
  int Count() const { return bands * parts; }

  // Task `task`: band `band` (pixel rows [row_begin, row_end)), part `part` of its columns
  // (pixel columns [begin, end)).
  struct Task {
    int32_t band, part, row_begin, row_end, begin, end;
  };
  Task At(int task) const {
    Task t;
    t.band = task / parts;
    t.part = task % parts;
    if (fixed_rows > 0) {
      t.row_begin = t.band * fixed_rows;
      t.row_end = std::min(height, t.row_begin + fixed_rows);
    } else {
      t.row_begin = static_cast<int32_t>(static_cast<int64_t>(height) * t.band / bands);
      t.row_end = static_cast<int32_t>(static_cast<int64_t>(height) * (t.band + 1) / bands);
    }
    t.begin = static_cast<int32_t>(static_cast<int64_t>(width) * t.part / parts);
    t.end = static_cast<int32_t>(static_cast<int64_t>(width) * (t.part + 1) / parts);
    return t;
  }
};

// Count: the integer type of the weights' numerators (see GridPlan::int32_counts).
template <typename Source, typename Sink, typename Count>
class SliceStream {
 public:
  // A stream for the pixel rows [row_begin, row_end): its slices hold only the grid rows
  // those rows sample and the halo the blur passes need.
  SliceStream(const Source& source, const Sink& sink, const GridPlan<Source>& plan, int32_t row_begin,
              int32_t row_end)
      : source_(source),
        sink_(sink),
        plan_(plan),
        g_(plan.g),
        zs_(plan.zs),
        xs_(plan.xs),
        ys_(plan.ys),
        first_column_(plan.first_column),
        first_row_(plan.first_row),
        row_begin_(row_begin),
        row_end_(row_end) {
    const GridGeometry& g = plan.g;
    band_.first = static_cast<int32_t>(ys_[row_begin].lower);
    band_.last = static_cast<int32_t>(ys_[row_end - 1].upper);
    band_.y_size = g.y_size;
    const int32_t held_first = band_.HeldFirst(), held = band_.HeldLast() - held_first + 1;
    filled_.Reset(g.y_size, g.z_size, held_first, held);
    first_x_.Reset(g.y_size, g.z_size, held_first, held);
    normalised_.Reset(g.y_size, g.z_size, held_first, held);
    zero_.Reset(g.y_size, g.z_size, held_first, held);
    scratch_a_.Reset(g.y_size, g.z_size, held_first, held);
    scratch_b_.Reset(g.y_size, g.z_size, held_first, held);
    batch_values_.resize(kBatchPixels);
    if constexpr (!HasFloatSamples<Source>::value) batch_edges_.resize(kBatchPixels);
    batch_cells_.resize(2 * kBatchPixels);  // and the row that ends the columns (SumTile)
  }

  // Computes the normalised slice x, with the slices beside it that the rings do not hold
  // (any slice may follow any other; the next one up costs least), and copies the rows of
  // it that are among y_first .. y_last and computed by this band into `grid`: one array
  // per slice, all of the grid's rows, y major and z minor. Slices 0 and x_size - 1 are
  // zero and are left as they are.
  void StoreNormalisedSlice(int32_t x, int32_t y_first, int32_t y_last,
                            std::vector<std::vector<double>>& grid) {
    const int32_t from = std::max(y_first, band_.PassFirst(0)), to = std::min(y_last, band_.PassLast(0));
    if (from > to || x < 1 || x > g_.x_size - 2) return;
    const size_t z_size = static_cast<size_t>(g_.z_size);
    const GridSliceOf<Count>& slice = Normalised(x);
    std::copy(slice.value.begin() + slice.Index(from, 0), slice.value.begin() + slice.Index(to, 0) + z_size,
              grid[x].begin() + static_cast<size_t>(from) * z_size);
  }

  // Pixel columns that share their lower sample slice are read back together, row by
  // row, so that the image is walked along its rows.
  void ReadBackColumns(int32_t begin, int32_t end) {
    int32_t run_begin = begin;
    while (run_begin < end) {
      int32_t run_end = run_begin + 1;
      while (run_end < end && xs_[run_end].lower == xs_[run_begin].lower) ++run_end;
      ReadBackRun(run_begin, run_end);
      run_begin = run_end;
    }
  }

 private:
  // Slices 0, 1 and x_size - 1 are never filled; x passes never write 0 and x_size - 1.
  const GridSliceOf<Count>& Filled(int32_t x) {
    if (x < kGridMargin || x > g_.x_size - 2) return zero_;
    if (filled_.Holds(x)) return filled_.Get(x);
    GridSliceOf<Count>& slice = filled_.Claim(x);
    // A cell only receives pixels of one band of rows (same fill y) and one run of columns
    // (this slice), so tile by tile, columns outer and rows inner, each cell sums its
    // pixels in the reference order while the tile stays in cache. All of a tile goes
    // into one column of the slice, whose non-zero range is then known.
    const int32_t column_begin = first_column_[x], column_end = first_column_[x + 1];
    const int32_t fill_first = std::max(kGridMargin, band_.PassFirst(2)), fill_last = band_.PassLast(2);
    if constexpr (EdgeLevelCount<Source>::value > 0) {
      if (source_.ValuesAreEdges()) {
        FillSliceOfOwnLevels(slice, column_begin, column_end - column_begin, fill_first, fill_last);
        return slice;
      }
    }
    for (int32_t gy = fill_first; gy <= fill_last; ++gy) {
      const int32_t row_begin = first_row_[gy], rows = first_row_[gy + 1] - row_begin;
      if (rows == 0) continue;
      if constexpr (EdgeLevelCount<Source>::value > 0) {
        FillTileOfLevels(slice, gy, column_begin, column_end - column_begin, row_begin, rows);
        continue;
      }
      // Whole columns per batch, so that the order above holds across batches; a column
      // longer than a batch alone (a huge sigma_s) is split along its rows.
      const int32_t columns_per_batch = std::max<int32_t>(1, kBatchPixels / rows);
      for (int32_t px = column_begin; px < column_end; px += columns_per_batch) {
        const int32_t columns = std::min(columns_per_batch, column_end - px);
        for (int32_t r = 0; r < rows; r += kBatchPixels) {
          FillBatch(slice, gy, px, columns, row_begin + r, std::min(kBatchPixels, rows - r));
        }
      }
    }
    return slice;
  }

  // A tile of a source with edge levels: its cells are looked up, cheaply enough to do it
  // on the way, and its pixels change cells too often for the running sums of FillBatch.
  void FillTileOfLevels(GridSliceOf<Count>& slice, int32_t gy, int32_t px_begin, int32_t columns,
                        int32_t row_begin, int32_t rows) {
    const Source source = source_;
    const ZPlacer<Source> zs = zs_;
    double* const value = slice.value.data() + slice.Index(gy, 0);
    Count* const weight = slice.weight.data() + slice.Index(gy, 0);
    int32_t lo = std::numeric_limits<int32_t>::max(), hi = std::numeric_limits<int32_t>::min();
    for (int32_t px = px_begin; px < px_begin + columns; ++px) {
      for (int32_t y = row_begin; y < row_begin + rows; ++y) {
        const int32_t gz = zs.At(source, px, y).fill;
        value[gz] += source.Value(px, y);
        weight[gz] += 1;
        lo = std::min(lo, gz);
        hi = std::max(hi, gz);
      }
    }
    if (lo <= hi) slice.SetRange(gy, lo, hi);
  }

  // The tiles of grid rows fill_first .. fill_last of a slice just claimed, for a source
  // whose values are its edges: each sample is read once, and its value and cell come from
  // one table entry. The same additions in the same order as FillTileOfLevels; the
  // samples are walked by pointer, row after row of tiles.
  void FillSliceOfOwnLevels(GridSliceOf<Count>& slice, int32_t px_begin, int32_t columns, int32_t fill_first,
                            int32_t fill_last) {
    if (columns == 0) return;
    const Source source = source_;
    const LevelFill* const fills = plan_.level_fills.data();
    const int32_t* const first_row = first_row_.data();
    using T = std::remove_const_t<std::remove_pointer_t<decltype(source.EdgePointer(px_begin, 0))>>;
    const auto* const column = reinterpret_cast<const unsigned char*>(source.EdgePointer(px_begin, 0));
    const size_t across = source.EdgeStride() * sizeof(T), down = source.EdgeRowBytes();
    const SliceArrays<Count> arrays = slice.Arrays();
    const size_t z_size = static_cast<size_t>(slice.z_size);
    for (int32_t gy = fill_first; gy <= fill_last; ++gy) {
      const int32_t row_begin = first_row[gy], rows = first_row[gy + 1] - row_begin;
      if (rows == 0) continue;
      const size_t r = static_cast<size_t>(gy - slice.y_first);
      double* const value = arrays.value + r * z_size;
      Count* const weight = arrays.weight + r * z_size;
      const unsigned char* const tile = column + static_cast<size_t>(row_begin) * down;
      // The tiles go down the picture a row at a time, each row a page or more from the
      // last, where no hardware prefetcher follows: the rows of the tile after next are
      // asked for now, at the tile's first and last column (the tile may straddle two
      // cache lines). Only addresses are formed; nothing is read from them.
      const uintptr_t ahead = reinterpret_cast<uintptr_t>(tile) + 2 * static_cast<uintptr_t>(rows) * down;
      for (int32_t i = 0; i < rows; ++i) {
        __builtin_prefetch(reinterpret_cast<const void*>(ahead + i * down));
        __builtin_prefetch(reinterpret_cast<const void*>(ahead + i * down + (columns - 1) * across));
      }
      int32_t lo = std::numeric_limits<int32_t>::max(), hi = std::numeric_limits<int32_t>::min();
      for (int32_t c = 0; c < columns; ++c) {
        const unsigned char* sample = tile + static_cast<size_t>(c) * across;
        for (int32_t i = 0; i < rows; ++i, sample += down) {
          const LevelFill fill = fills[*reinterpret_cast<const T*>(sample)];
          value[fill.cell] += fill.value;
          weight[fill.cell] += 1;
          lo = std::min(lo, fill.cell);
          hi = std::max(hi, fill.cell);
        }
      }
      arrays.lo[r] = lo;
      arrays.hi[r] = hi;
    }
  }

  // Pixels of `columns` columns from px on, rows [row_begin, row_begin + rows), columns
  // outer, into column gy of the slice (SumTile); widens the column's non-zero range.
  void FillBatch(GridSliceOf<Count>& slice, int32_t gy, int32_t px_begin, int32_t columns, int32_t row_begin,
                 int32_t rows) {
    const Source source = source_;
    double* const values = batch_values_.data();
    int32_t* const cells = batch_cells_.data();
    if constexpr (HasFloatSamples<Source>::value) {
      const FloatTile tile{source.ValuePointer(px_begin, row_begin), source.ValueStride(), source.ValueRowBytes(),
                           source.EdgePointer(px_begin, row_begin), source.EdgeStride(), source.EdgeRowBytes(),
                           columns, rows};
      WidenAndFillCells(tile, g_, values, cells);
    } else {
      double* const edges = batch_edges_.data();
      for (int32_t i = 0, k = 0; i < rows; ++i) {
        for (int32_t c = 0; c < columns; ++c, ++k) {
          values[k] = source.Value(px_begin + c, row_begin + i);
          edges[k] = source.Edge(px_begin + c, row_begin + i);
        }
      }
      FillCellsOnZ(edges, columns * rows, g_, cells);
    }
    std::fill_n(cells + static_cast<size_t>(rows) * columns, columns, kEndOfColumn);
    int32_t lo = slice.Empty(gy) ? std::numeric_limits<int32_t>::max() : slice.Lo(gy);
    int32_t hi = slice.Empty(gy) ? std::numeric_limits<int32_t>::min() : slice.Hi(gy);
    SumTile(TilePixels{values, cells, columns, rows}, slice.value.data() + slice.Index(gy, 0),
            slice.weight.data() + slice.Index(gy, 0), lo, hi);
    slice.SetRange(gy, lo, hi);
  }

  // The run's pixels row by row, each row through the row kernel.
  void ReadBackRun(int32_t begin, int32_t end) {
    const int32_t count = end - begin;
    if (run_dx_.size() < static_cast<size_t>(count)) run_dx_.resize(count);
    for (int32_t i = 0; i < count; ++i) run_dx_[i] = xs_[begin + i].fraction;
    RunRow row{};
    row.lower = Normalised(static_cast<int32_t>(xs_[begin].lower)).value.data();
    row.upper = Normalised(static_cast<int32_t>(xs_[begin].upper)).value.data();
    row.dx = run_dx_.data();
    row.count = count;
    const Source source = source_;
    const Sink sink = sink_;
    const size_t z_size = static_cast<size_t>(g_.z_size);
    const int32_t held_first = band_.HeldFirst();
    const bool vector = vector_code_;
    if constexpr (EdgeLevelCount<Source>::value > 0) {
      if (vector && count >= 4 && plan_.level_corners.upper_is_next) {
        const LevelRows rows{source, sink, ys_.data(), z_size, held_first, begin,
                             plan_.level_corners.lower.data(), plan_.level_corners.fraction.data()};
        SampleRunOfLevelsVector(row, rows, row_begin_, row_end_);
        return;
      }
    }
    for (int32_t y = row_begin_; y < row_end_; ++y) {
      const AxisPlace yp = ys_[y];
      // GridSlice::Index(y, 0) of the two sample rows.
      row.row0 = static_cast<size_t>(static_cast<int32_t>(yp.lower) - held_first) * z_size;
      row.row1 = static_cast<size_t>(static_cast<int32_t>(yp.upper) - held_first) * z_size;
      row.dy = yp.fraction;
      const auto edges = EdgesOf(source, plan_, begin, y);
      const auto out = OutputOf(sink, begin, y);
      if (vector) {
        SampleRunRowVector(row, edges, out);
      } else {
        SampleRunRowPlain(row, edges, out);
      }
    }
  }

  // The rows of a run whose edges are levels, as SampleRunOfLevelsVector asks for them.
  struct LevelRows {
    Source source;
    Sink sink;
    const AxisPlace* ys;
    size_t z_size;
    int32_t held_first, begin;
    const int32_t* lower;
    const float* fraction;

    VANTOREL_INLINE auto At(int32_t y, RunRow& row) const {
      const AxisPlace yp = ys[y];
      // GridSlice::Index(y, 0) of the two sample rows.
      row.row0 = static_cast<size_t>(static_cast<int32_t>(yp.lower) - held_first) * z_size;
      row.row1 = static_cast<size_t>(static_cast<int32_t>(yp.upper) - held_first) * z_size;
      row.dy = yp.fraction;
      using T = std::remove_const_t<std::remove_pointer_t<decltype(source.EdgePointer(begin, y))>>;
      return std::make_pair(LevelCornersOfRow<T>{source.EdgePointer(begin, y), source.EdgeStride(), lower, fraction},
                            OutputOf(sink, begin, y));
    }
  };

  static auto OutputOf(const Sink& sink, int32_t x, int32_t y) {
    using T = std::remove_pointer_t<decltype(sink.Pointer(x, y))>;
    if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, uint16_t>) {
      return RoundedOfRow<T>{sink.Pointer(x, y), sink.Stride()};
    } else {
      return ValuesOfRow<T>{sink.Pointer(x, y), sink.Stride()};
    }
  }

  const GridSliceOf<Count>& FirstXPass(int32_t x) {
    if (x < 1 || x > g_.x_size - 2) return zero_;
    if (first_x_.Holds(x)) return first_x_.Get(x);
    const GridSliceOf<Count>& before = Filled(x - 1);
    const GridSliceOf<Count>& centre = Filled(x);
    const GridSliceOf<Count>& after = Filled(x + 1);
    GridSliceOf<Count>& slice = first_x_.Take(x);
    XPass(slice, before, centre, after, band_.PassFirst(2), band_.PassLast(2));
    return slice;
  }

  const GridSliceOf<Count>& Normalised(int32_t x) {
    if (x < 1 || x > g_.x_size - 2) return zero_;
    if (normalised_.Holds(x)) return normalised_.Get(x);
    const GridSliceOf<Count>& before = FirstXPass(x - 1);
    const GridSliceOf<Count>& centre = FirstXPass(x);
    const GridSliceOf<Count>& after = FirstXPass(x + 1);
    XPass(scratch_a_, before, centre, after, band_.PassFirst(2), band_.PassLast(2));
    YPass(scratch_b_, scratch_a_, band_.PassFirst(1), band_.PassLast(1));
    YPass(scratch_a_, scratch_b_, band_.PassFirst(0), band_.PassLast(0));
    GridSliceOf<Count>& slice = normalised_.Take(x);
    ZPassesAndNormalise(slice, scratch_a_, band_.PassFirst(0), band_.PassLast(0));
    return slice;
  }

  const Source& source_;
  const Sink& sink_;
  const GridPlan<Source>& plan_;
  const GridGeometry& g_;
  const ZPlacer<Source>& zs_;
  const std::vector<AxisPlace>& xs_;
  const std::vector<AxisPlace>& ys_;
  const std::vector<int32_t>& first_column_;
  const std::vector<int32_t>& first_row_;
  const int32_t row_begin_, row_end_;
  BandRows band_;
  const bool vector_code_ = HasAvx2();
  std::vector<float> run_dx_;  // the x fractions of the current run
  // The values, edges and cells of a batch of the fill.
  std::vector<double> batch_values_, batch_edges_;
  std::vector<int32_t> batch_cells_;
  SliceRing<Count, 3> filled_;
  SliceRing<Count, 3> first_x_;
  SliceRing<Count, 2> normalised_;
  GridSliceOf<Count> zero_, scratch_a_, scratch_b_;
};

// Filters width x height sources, each into its sink, in one parallel loop: the threads
// share the tasks of all of them, so that none waits at the end of one filter for another
// thread's last band. No sink may write anything a source reads: tasks read columns
// beyond the ones they write.
template <typename Source, typename Sink, size_t N>
void StreamBilateralGrids(const std::array<Source, N>& sources, const std::array<Sink, N>& sinks, int32_t width,
                          int32_t height, double sigma_s, double sigma_r) {
  std::array<std::unique_ptr<const GridPlan<Source>>, N> plans;
  std::vector<GridTasks> tasks;
  std::array<int, N + 1> first_task{};
  for (size_t i = 0; i < N; ++i) {
    plans[i] = std::make_unique<const GridPlan<Source>>(sources[i], width, height, sigma_s, sigma_r);
    tasks.emplace_back(width, height, plans[i]->g);
    first_task[i + 1] = first_task[i] + tasks[i].Count();
  }
  ParallelFor(first_task[N], [&](int task) {
    size_t i = 0;
    while (task >= first_task[i + 1]) ++i;
    const GridTasks::Task t = tasks[i].At(task - first_task[i]);
    if (plans[i]->int32_counts) {
      SliceStream<Source, Sink, int32_t>(sources[i], sinks[i], *plans[i], t.row_begin, t.row_end)
          .ReadBackColumns(t.begin, t.end);
    } else {
      SliceStream<Source, Sink, int64_t>(sources[i], sinks[i], *plans[i], t.row_begin, t.row_end)
          .ReadBackColumns(t.begin, t.end);
    }
  });
}

// Filters a width x height source into the sink, as above.
template <typename Source, typename Sink>
void StreamBilateralGrid(const Source& source, const Sink& sink, int32_t width, int32_t height,
                         double sigma_s, double sigma_r) {
  StreamBilateralGrids(std::array<Source, 1>{source}, std::array<Sink, 1>{sink}, width, height, sigma_s, sigma_r);
}

}  // namespace vantorel
