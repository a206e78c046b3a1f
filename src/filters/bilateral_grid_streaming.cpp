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
#include "filters/bilateral_grid_streaming.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "filters/grid_slice.h"
#include "filters/parallel_for.h"
#include "filters/trilinear_weights.h"

namespace vantorel {

namespace {

constexpr int32_t kMargin = 2;

struct Geometry {
  int32_t width = 0, height = 0;  // pixels
  int32_t x_size = 0, y_size = 0, z_size = 0;
  double sigma_s = 0, sigma_r = 0, emin = 0;
};

// Where one pixel coordinate goes: its fill cell, and its two sample corners with the
// fraction between them.
struct AxisPlace {
  int32_t fill = 0;
  uint32_t lower = 0, upper = 0;
  float fraction = 0;
};

AxisPlace PlaceOnAxis(uint32_t pixel, double sigma_s, int32_t size) {
  AxisPlace place;
  place.fill = static_cast<int32_t>(pixel / sigma_s + 0.5) + kMargin;
  const double f = pixel / sigma_s + 2.0;
  place.lower = std::min(static_cast<uint32_t>(f), static_cast<uint32_t>(size - 1));
  place.upper = std::min(place.lower + 1, static_cast<uint32_t>(size - 1));
  place.fraction = static_cast<float>(f - place.lower);
  return place;
}

std::vector<AxisPlace> PlaceAxis(int32_t pixels, double sigma_s, int32_t size) {
  std::vector<AxisPlace> places(pixels);
  for (int32_t i = 0; i < pixels; ++i) places[i] = PlaceOnAxis(static_cast<uint32_t>(i), sigma_s, size);
  return places;
}

struct Range {
  int32_t lo = 1, hi = 0;  // empty when lo > hi
  bool Empty() const { return lo > hi; }
};

Range Hull(const GridSlice& a, const GridSlice& b, const GridSlice& c, int32_t ya, int32_t yb,
           int32_t yc) {
  Range r;
  for (const auto& [slice, y] : {std::pair<const GridSlice*, int32_t>{&a, ya}, {&b, yb}, {&c, yc}}) {
    if (slice->lo[y] > slice->hi[y]) continue;
    if (r.Empty()) {
      r = {slice->lo[y], slice->hi[y]};
    } else {
      r.lo = std::min(r.lo, slice->lo[y]);
      r.hi = std::max(r.hi, slice->hi[y]);
    }
  }
  return r;
}

Range Interior(Range r, int32_t z_size) {
  return {std::max(r.lo, 1), std::min(r.hi, z_size - 2)};
}

// out = ((before + after) + 2 centre) / 4 over the cells of column y in `range`.
void BlurColumn(GridSlice& out, int32_t y, Range range, const double* before_v,
                const double* after_v, const double* centre_v, const double* before_w,
                const double* after_w, const double* centre_w) {
  out.ClearColumn(y);
  if (range.Empty()) return;
  const size_t base = out.Index(y, 0);
  double* value = out.value.data() + base;
  double* weight = out.weight.data() + base;
  for (int32_t z = range.lo; z <= range.hi; ++z) {
    value[z] = ((before_v[z] + after_v[z]) + 2.0 * centre_v[z]) * 0.25;
    weight[z] = ((before_w[z] + after_w[z]) + 2.0 * centre_w[z]) * 0.25;
  }
  out.lo[y] = range.lo;
  out.hi[y] = range.hi;
}

void XPass(GridSlice& out, const GridSlice& before, const GridSlice& centre, const GridSlice& after) {
  for (int32_t y = 1; y <= out.y_size - 2; ++y) {
    const Range range = Interior(Hull(before, centre, after, y, y, y), out.z_size);
    const size_t at = out.Index(y, 0);
    BlurColumn(out, y, range, &before.value[at], &after.value[at], &centre.value[at],
               &before.weight[at], &after.weight[at], &centre.weight[at]);
  }
}

void YPass(GridSlice& out, const GridSlice& in) {
  for (int32_t y = 1; y <= out.y_size - 2; ++y) {
    const Range range = Interior(Hull(in, in, in, y - 1, y, y + 1), out.z_size);
    BlurColumn(out, y, range, &in.value[in.Index(y - 1, 0)], &in.value[in.Index(y + 1, 0)],
               &in.value[in.Index(y, 0)], &in.weight[in.Index(y - 1, 0)],
               &in.weight[in.Index(y + 1, 0)], &in.weight[in.Index(y, 0)]);
  }
}

void ZPass(GridSlice& out, const GridSlice& in) {
  for (int32_t y = 1; y <= out.y_size - 2; ++y) {
    Range range;
    if (in.lo[y] <= in.hi[y]) range = Interior({in.lo[y] - 1, in.hi[y] + 1}, out.z_size);
    const size_t at = in.Index(y, 0);
    BlurColumn(out, y, range, &in.value[at] - 1, &in.value[at] + 1, &in.value[at],
               &in.weight[at] - 1, &in.weight[at] + 1, &in.weight[at]);
  }
}

// value / weight, with a zero weight counting as 1; only the value is kept.
void Normalise(GridSlice& out, const GridSlice& in) {
  for (int32_t y = 0; y < out.y_size; ++y) {
    out.ClearColumn(y);
    if (in.lo[y] > in.hi[y]) continue;
    for (int32_t z = in.lo[y]; z <= in.hi[y]; ++z) {
      const size_t i = in.Index(y, z);
      const double d = in.weight[i] != 0.0 ? in.weight[i] : 1.0;
      out.value[i] = in.value[i] / d;
    }
    out.lo[y] = in.lo[y];
    out.hi[y] = in.hi[y];
  }
}

// A few slices of one stage, keyed by their x index; requests come in increasing x.
template <size_t N>
class SliceRing {
 public:
  void Reset(int32_t ys, int32_t zs) {
    for (size_t i = 0; i < N; ++i) {
      slots_[i].Reset(ys, zs);
      keys_[i] = -1;
    }
  }
  bool Holds(int32_t x) const { return keys_[Slot(x)] == x; }
  GridSlice& Claim(int32_t x) {
    GridSlice& slice = slots_[Slot(x)];
    slice.ClearAll();
    keys_[Slot(x)] = x;
    return slice;
  }
  const GridSlice& Get(int32_t x) const { return slots_[Slot(x)]; }

 private:
  static size_t Slot(int32_t x) { return static_cast<size_t>(x) % N; }
  std::array<GridSlice, N> slots_;
  std::array<int32_t, N> keys_{};
};

// One pass of the streaming core over a run of pixel columns, with its own slice rings.
class SliceStream {
 public:
  SliceStream(const WorkMatrix& input, const WorkMatrix& edge, const Geometry& g,
              const std::vector<AxisPlace>& xs, const std::vector<AxisPlace>& ys,
              const std::vector<int32_t>& first_column)
      : input_(input), edge_(edge), g_(g), xs_(xs), ys_(ys), first_column_(first_column) {
    filled_.Reset(g.y_size, g.z_size);
    first_x_.Reset(g.y_size, g.z_size);
    normalised_.Reset(g.y_size, g.z_size);
    zero_.Reset(g.y_size, g.z_size);
    scratch_a_.Reset(g.y_size, g.z_size);
    scratch_b_.Reset(g.y_size, g.z_size);
  }

  void ReadBackColumns(int32_t begin, int32_t end, WorkMatrix& result) {
    for (int32_t px = begin; px < end; ++px) ReadBackColumn(px, result);
  }

 private:
  // Slices 0, 1 and x_size - 1 are never filled; x passes never write 0 and x_size - 1.
  const GridSlice& Filled(int32_t x) {
    if (x < kMargin || x > g_.x_size - 2) return zero_;
    if (filled_.Holds(x)) return filled_.Get(x);
    GridSlice& slice = filled_.Claim(x);
    for (int32_t px = first_column_[x]; px < first_column_[x + 1]; ++px) FillColumn(slice, px);
    return slice;
  }

  // Pixels in reference order (x outer, y inner), so each cell sums in the same order.
  void FillColumn(GridSlice& slice, int32_t px) {
    const double* values = &input_.storage[static_cast<size_t>(px) * input_.y_size];
    const double* edges = &edge_.storage[static_cast<size_t>(px) * edge_.y_size];
    for (int32_t y = 0; y < g_.height; ++y) {
      const int32_t gy = ys_[y].fill;
      const int32_t gz = static_cast<int32_t>((edges[y] - g_.emin) / g_.sigma_r + 0.5) + kMargin;
      const size_t i = slice.Index(gy, gz);
      slice.value[i] += values[y];
      slice.weight[i] += 1.0;
      if (slice.lo[gy] > slice.hi[gy]) {
        slice.lo[gy] = slice.hi[gy] = gz;
      } else {
        slice.lo[gy] = std::min(slice.lo[gy], gz);
        slice.hi[gy] = std::max(slice.hi[gy], gz);
      }
    }
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

  void ReadBackColumn(int32_t px, WorkMatrix& result) {
    const AxisPlace& xp = xs_[px];
    const GridSlice& lower = Normalised(static_cast<int32_t>(xp.lower));
    const GridSlice& upper = Normalised(static_cast<int32_t>(xp.upper));
    const double* edges = &edge_.storage[static_cast<size_t>(px) * edge_.y_size];
    double* out = &result.storage[static_cast<size_t>(px) * result.y_size];
    const uint32_t z_last = static_cast<uint32_t>(g_.z_size - 1);
    for (int32_t y = 0; y < g_.height; ++y) {
      const AxisPlace& yp = ys_[y];
      const double fz = (edges[y] - g_.emin) / g_.sigma_r + 2.0;
      const uint32_t z0 = std::min(static_cast<uint32_t>(fz), z_last);
      const uint32_t z1 = std::min(z0 + 1, z_last);
      float w[8];
      TrilinearWeights(xp.fraction, yp.fraction, static_cast<float>(fz - z0), w);
      const size_t y0z0 = lower.Index(yp.lower, z0), y1z0 = lower.Index(yp.upper, z0);
      const size_t y0z1 = lower.Index(yp.lower, z1), y1z1 = lower.Index(yp.upper, z1);
      out[y] = double(w[0]) * lower.value[y0z0] + double(w[1]) * upper.value[y0z0] +
               double(w[2]) * lower.value[y1z0] + double(w[3]) * upper.value[y1z0] +
               double(w[4]) * lower.value[y0z1] + double(w[5]) * upper.value[y0z1] +
               double(w[6]) * lower.value[y1z1] + double(w[7]) * upper.value[y1z1];
    }
  }

  const WorkMatrix& input_;
  const WorkMatrix& edge_;
  const Geometry& g_;
  const std::vector<AxisPlace>& xs_;
  const std::vector<AxisPlace>& ys_;
  const std::vector<int32_t>& first_column_;
  SliceRing<3> filled_;
  SliceRing<3> first_x_;
  SliceRing<2> normalised_;
  GridSlice zero_, scratch_a_, scratch_b_;
};

Geometry MakeGeometry(const WorkMatrix& input, const WorkMatrix& edge, double sigma_s,
                      double sigma_r) {
  Geometry g;
  g.width = input.x_size;
  g.height = input.y_size;
  g.sigma_s = sigma_s;
  g.sigma_r = sigma_r;
  g.emin = *std::min_element(edge.storage.begin(), edge.storage.end());
  const double emax = *std::max_element(edge.storage.begin(), edge.storage.end());
  g.x_size = static_cast<int32_t>(static_cast<uint32_t>(g.width - 1) / sigma_s) + 5;
  g.y_size = static_cast<int32_t>(static_cast<uint32_t>(g.height - 1) / sigma_s) + 5;
  g.z_size = static_cast<int32_t>((emax - g.emin) / sigma_r) + 5;
  return g;
}

// first_column[x] .. first_column[x + 1] - 1 are the pixel columns filled into slice x.
// The fill cells grow with the pixel column, so each slice's columns are one run.
std::vector<int32_t> FirstColumnOfSlices(const std::vector<AxisPlace>& xs, int32_t x_size) {
  std::vector<int32_t> first(x_size + 1);
  const int32_t width = static_cast<int32_t>(xs.size());
  int32_t px = 0;
  for (int32_t x = 0; x <= x_size; ++x) {
    while (px < width && xs[px].fill < x) ++px;
    first[x] = px;
  }
  return first;
}

// Enough columns per task that the slices recomputed at task borders stay a small share.
constexpr int32_t kMinColumnsPerTask = 64;

}  // namespace

void BilateralGridStreamingCPU(const WorkMatrix& input, const WorkMatrix& edge, double sigma_s,
                               double sigma_r, WorkMatrix& result) {
  const Geometry g = MakeGeometry(input, edge, sigma_s, sigma_r);
  const std::vector<AxisPlace> xs = PlaceAxis(g.width, sigma_s, g.x_size);
  const std::vector<AxisPlace> ys = PlaceAxis(g.height, sigma_s, g.y_size);
  const std::vector<int32_t> first_column = FirstColumnOfSlices(xs, g.x_size);

  // Tasks read input columns other than the ones they write, so a result that is also the
  // input gets a separate matrix and takes it over at the end.
  WorkMatrix separate;
  WorkMatrix& out = &result == &input ? separate : result;
  out.Resize(g.width, g.height);
  const int32_t tasks = std::max(1, std::min(WorkerCount(), g.width / kMinColumnsPerTask));
  ParallelFor(tasks, [&](int task) {
    const int32_t begin = static_cast<int32_t>(static_cast<int64_t>(g.width) * task / tasks);
    const int32_t end = static_cast<int32_t>(static_cast<int64_t>(g.width) * (task + 1) / tasks);
    SliceStream stream(input, edge, g, xs, ys, first_column);
    stream.ReadBackColumns(begin, end, out);
  });
  if (&out == &separate) result = std::move(separate);
}

}  // namespace vantorel
