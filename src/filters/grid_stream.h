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
// A Source has Value(x, y) and Edge(x, y) as doubles and EdgeRange(emin, emax); a Sink
// has Put(x, y, v), called once per pixel, from several threads for disjoint columns.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "filters/grid_stream_parts.h"
#include "filters/parallel_for.h"
#include "filters/trilinear_weights.h"

namespace vantorel {

template <typename Source, typename Sink>
class SliceStream {
 public:
  SliceStream(const Source& source, const Sink& sink, const GridGeometry& g,
              const std::vector<AxisPlace>& xs, const std::vector<AxisPlace>& ys,
              const std::vector<int32_t>& first_column, const std::vector<int32_t>& first_row)
      : source_(source),
        sink_(sink),
        g_(g),
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
    // A cell only receives pixels of one band of rows (same fill y) and one run of columns
    // (this slice), so tile by tile, columns outer and rows inner, each cell sums its
    // pixels in the reference order while the tile stays in cache.
    for (int32_t gy = kGridMargin; gy <= g_.y_size - 2; ++gy) {
      for (int32_t px = first_column_[x]; px < first_column_[x + 1]; ++px) {
        for (int32_t y = first_row_[gy]; y < first_row_[gy + 1]; ++y) {
          const int32_t gz = FillCellZ(source_.Edge(px, y), g_);
          const size_t i = slice.Index(gy, gz);
          slice.value[i] += source_.Value(px, y);
          slice.weight[i] += 1.0;
          IncludeInColumn(slice, gy, gz);
        }
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
    GridSlice& slice = first_x_.Claim(x);
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
    GridSlice& slice = normalised_.Claim(x);
    Normalise(slice, scratch_a_);
    return slice;
  }

  void ReadBackRun(int32_t begin, int32_t end) {
    const GridSlice& lower = Normalised(static_cast<int32_t>(xs_[begin].lower));
    const GridSlice& upper = Normalised(static_cast<int32_t>(xs_[begin].upper));
    for (int32_t y = 0; y < g_.height; ++y) {
      for (int32_t px = begin; px < end; ++px) ReadBackPixel(lower, upper, px, y);
    }
  }

  __attribute__((always_inline)) void ReadBackPixel(const GridSlice& lower, const GridSlice& upper,
                                                    int32_t px, int32_t y) {
    const AxisPlace& xp = xs_[px];
    const AxisPlace& yp = ys_[y];
    const uint32_t z_last = static_cast<uint32_t>(g_.z_size - 1);
    const double fz = SamplePositionZ(source_.Edge(px, y), g_);
    const uint32_t z0 = std::min(static_cast<uint32_t>(fz), z_last);
    const uint32_t z1 = std::min(z0 + 1, z_last);
    float w[8];
    TrilinearWeights(xp.fraction, yp.fraction, static_cast<float>(fz - z0), w);
    const size_t y0z0 = lower.Index(yp.lower, z0), y1z0 = lower.Index(yp.upper, z0);
    const size_t y0z1 = lower.Index(yp.lower, z1), y1z1 = lower.Index(yp.upper, z1);
    sink_.Put(px, y,
              double(w[0]) * lower.value[y0z0] + double(w[1]) * upper.value[y0z0] +
                  double(w[2]) * lower.value[y1z0] + double(w[3]) * upper.value[y1z0] +
                  double(w[4]) * lower.value[y0z1] + double(w[5]) * upper.value[y0z1] +
                  double(w[6]) * lower.value[y1z1] + double(w[7]) * upper.value[y1z1]);
  }

  const Source& source_;
  const Sink& sink_;
  const GridGeometry& g_;
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

  const int32_t tasks = std::max(1, std::min(WorkerCount(), width / kMinColumnsPerTask));
  ParallelFor(tasks, [&](int task) {
    const int32_t begin = static_cast<int32_t>(static_cast<int64_t>(width) * task / tasks);
    const int32_t end = static_cast<int32_t>(static_cast<int64_t>(width) * (task + 1) / tasks);
    SliceStream<Source, Sink> stream(source, sink, g, xs, ys, first_column, first_row);
    stream.ReadBackColumns(begin, end);
  });
}

}  // namespace vantorel
