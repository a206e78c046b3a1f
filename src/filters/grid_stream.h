// The bilateral grid, streamed along x.
//
// Why this is exact: every grid cell of every pass is the same expression of the same
// cells as in the reference core, evaluated in the same widths, so it rounds the same.
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
// A Source has Value(x, y) and Edge(x, y) as doubles and EdgeRange(emin, emax), and may
// offer its edges as levels (see z_places.h); a Sink has Put(x, y, v), called once per
// pixel, from several threads for disjoint columns.
// The hot loops copy the source, the sink and the places into locals: a sink that stores
// bytes could otherwise alias every member, and the compiler would reload them per pixel.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "filters/grid_stream_parts.h"
#include "filters/parallel_for.h"
#include "filters/trilinear_weights.h"
#include "filters/z_places.h"

namespace vantorel {

template <typename Source, typename Sink>
class SliceStream {
 public:
  SliceStream(const Source& source, const Sink& sink, const GridGeometry& g, const ZPlacer<Source>& zs,
              const std::vector<AxisPlace>& xs, const std::vector<AxisPlace>& ys,
              const std::vector<int32_t>& first_column, const std::vector<int32_t>& first_row)
      : source_(source),
        sink_(sink),
        g_(g),
        zs_(zs),
        xs_(xs),
        ys_(ys),
        first_column_(first_column),
        first_row_(first_row) {
    filled_.Reset(g.y_size, g.z_size);
    first_x_.Reset(g.y_size, g.z_size);
    normalised_.Reset(g.y_size, g.z_size);
    zero_.Reset(g.y_size, g.z_size);
    scratch_a_.Reset(g.y_size, g.z_size);
    scratch_b_.Reset(g.y_size, g.z_size);
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
  const GridSlice& Filled(int32_t x) {
    if (x < kGridMargin || x > g_.x_size - 2) return zero_;
    if (filled_.Holds(x)) return filled_.Get(x);
    GridSlice& slice = filled_.Claim(x);
    const Source source = source_;
    const ZPlacer<Source> zs = zs_;
    double* const value = slice.value.data();
    double* const weight = slice.weight.data();
    // A cell only receives pixels of one band of rows (same fill y) and one run of columns
    // (this slice), so tile by tile, columns outer and rows inner, each cell sums its
    // pixels in the reference order while the tile stays in cache. All of a tile goes
    // into one column of the slice, whose non-zero range is then known.
    for (int32_t gy = kGridMargin; gy <= g_.y_size - 2; ++gy) {
      int32_t lo = std::numeric_limits<int32_t>::max(), hi = std::numeric_limits<int32_t>::min();
      const size_t column = slice.Index(gy, 0);
      for (int32_t px = first_column_[x]; px < first_column_[x + 1]; ++px) {
        for (int32_t y = first_row_[gy]; y < first_row_[gy + 1]; ++y) {
          const int32_t gz = zs.At(source, px, y).fill;
          value[column + gz] += source.Value(px, y);
          weight[column + gz] += 1.0;
          lo = std::min(lo, gz);
          hi = std::max(hi, gz);
        }
      }
      if (lo <= hi) {
        slice.lo[gy] = lo;
        slice.hi[gy] = hi;
      }
    }
    return slice;
  }

  const GridSlice& FirstXPass(int32_t x) {
    if (x < 1 || x > g_.x_size - 2) return zero_;
    if (first_x_.Holds(x)) return first_x_.Get(x);
    const GridSlice& before = Filled(x - 1);
    const GridSlice& centre = Filled(x);
    const GridSlice& after = Filled(x + 1);
    GridSlice& slice = first_x_.Take(x);
    XPass(slice, before, centre, after);
    return slice;
  }

  const GridSlice& Normalised(int32_t x) {
    if (x < 1 || x > g_.x_size - 2) return zero_;
    if (normalised_.Holds(x)) return normalised_.Get(x);
    const GridSlice& before = FirstXPass(x - 1);
    const GridSlice& centre = FirstXPass(x);
    const GridSlice& after = FirstXPass(x + 1);
    XPass(scratch_a_, before, centre, after);
    YPass(scratch_b_, scratch_a_);
    YPass(scratch_a_, scratch_b_);
    ZPass(scratch_b_, scratch_a_);
    ZPass(scratch_a_, scratch_b_);
    GridSlice& slice = normalised_.Take(x);
    Normalise(slice, scratch_a_);
    return slice;
  }

  void ReadBackRun(int32_t begin, int32_t end) {
    const double* const lower = Normalised(static_cast<int32_t>(xs_[begin].lower)).value.data();
    const double* const upper = Normalised(static_cast<int32_t>(xs_[begin].upper)).value.data();
    const Source source = source_;
    const Sink sink = sink_;
    const ZPlacer<Source> zs = zs_;
    const AxisPlace* const xs = xs_.data();
    const AxisPlace* const ys = ys_.data();
    const size_t z_size = static_cast<size_t>(g_.z_size);
    const int32_t height = g_.height;
    for (int32_t y = 0; y < height; ++y) {
      const AxisPlace yp = ys[y];
      // GridSlice::Index(y, 0) of the two sample rows.
      const size_t row0 = static_cast<size_t>(static_cast<int32_t>(yp.lower)) * z_size;
      const size_t row1 = static_cast<size_t>(static_cast<int32_t>(yp.upper)) * z_size;
      for (int32_t px = begin; px < end; ++px) {
        const AxisPlace zp = zs.At(source, px, y);
        float w[8];
        TrilinearWeights(xs[px].fraction, yp.fraction, zp.fraction, w);
        const size_t y0z0 = row0 + zp.lower, y1z0 = row1 + zp.lower;
        const size_t y0z1 = row0 + zp.upper, y1z1 = row1 + zp.upper;
        sink.Put(px, y,
                 double(w[0]) * lower[y0z0] + double(w[1]) * upper[y0z0] +
                     double(w[2]) * lower[y1z0] + double(w[3]) * upper[y1z0] +
                     double(w[4]) * lower[y0z1] + double(w[5]) * upper[y0z1] +
                     double(w[6]) * lower[y1z1] + double(w[7]) * upper[y1z1]);
      }
    }
  }

  const Source& source_;
  const Sink& sink_;
  const GridGeometry& g_;
  const ZPlacer<Source>& zs_;
  const std::vector<AxisPlace>& xs_;
  const std::vector<AxisPlace>& ys_;
  const std::vector<int32_t>& first_column_;
  const std::vector<int32_t>& first_row_;
  SliceRing<3> filled_;
  SliceRing<3> first_x_;
  SliceRing<2> normalised_;
  GridSlice zero_, scratch_a_, scratch_b_;
};

// Enough columns per task that the slices recomputed at task borders stay a small share.
constexpr int32_t kMinColumnsPerTask = 64;

// Filters a width x height source into the sink. The sink must not write anything the
// source reads: tasks read columns beyond the ones they write.
template <typename Source, typename Sink>
void StreamBilateralGrid(const Source& source, const Sink& sink, int32_t width, int32_t height,
                         double sigma_s, double sigma_r) {
  double emin = 0.0, emax = 0.0;
  source.EdgeRange(emin, emax);
  const GridGeometry g = MakeGridGeometry(width, height, emin, emax, sigma_s, sigma_r);
  const std::vector<AxisPlace> xs = PlaceAxis(width, sigma_s, g.x_size);
  const std::vector<AxisPlace> ys = PlaceAxis(height, sigma_s, g.y_size);
  const std::vector<int32_t> first_column = FirstColumnOfSlices(xs, g.x_size);
  const std::vector<int32_t> first_row = FirstColumnOfSlices(ys, g.y_size);
  const std::vector<AxisPlace> edge_levels = PlacesOfEdgeLevels(source, g, emax);
  const ZPlacer<Source> zs(g, edge_levels);

  const int32_t tasks = std::max(1, std::min(WorkerCount(), width / kMinColumnsPerTask));
  ParallelFor(tasks, [&](int task) {
    const int32_t begin = static_cast<int32_t>(static_cast<int64_t>(width) * task / tasks);
    const int32_t end = static_cast<int32_t>(static_cast<int64_t>(width) * (task + 1) / tasks);
    SliceStream<Source, Sink> stream(source, sink, g, zs, xs, ys, first_column, first_row);
    stream.ReadBackColumns(begin, end);
  });
}

}  // namespace vantorel
