// The building blocks of the streaming grid core: the grid's geometry, where each pixel
// goes on it, and the blur passes over one x-slice.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "filters/grid_slice.h"

namespace vantorel {

constexpr int32_t kGridMargin = 2;

struct GridGeometry {
  int32_t width = 0, height = 0;  // pixels
  int32_t x_size = 0, y_size = 0, z_size = 0;
  double sigma_s = 0, sigma_r = 0, emin = 0;
};

// The grid sizes: trunc(extent / sigma) + 5 per axis, the extents converted from unsigned.
GridGeometry MakeGridGeometry(int32_t width, int32_t height, double emin, double emax,
                              double sigma_s, double sigma_r);

// Where one pixel coordinate goes: its fill cell, and its two sample corners with the
// single-precision fraction between them.
struct AxisPlace {
  int32_t fill = 0;
  uint32_t lower = 0, upper = 0;
  float fraction = 0;
};

std::vector<AxisPlace> PlaceAxis(int32_t pixels, double sigma_s, int32_t size);

// first[x] .. first[x + 1] - 1 are the pixel columns filled into slice x (or, given the
// rows' places, the pixel rows filled into grid row x).
std::vector<int32_t> FirstColumnOfSlices(const std::vector<AxisPlace>& xs, int32_t x_size);

// The z cell a pixel is filled into, and its sample position along z.
__attribute__((always_inline)) inline int32_t FillCellZ(double edge, const GridGeometry& g) {
  return static_cast<int32_t>((edge - g.emin) / g.sigma_r + 0.5) + kGridMargin;
}
__attribute__((always_inline)) inline double SamplePositionZ(double edge, const GridGeometry& g) {
  return (edge - g.emin) / g.sigma_r + 2.0;
}

// Where one edge value goes along z, in the same terms as a pixel coordinate along x or
// y. Both positions divide the same difference by sigma_r, so inlined they share one
// division. The edge must lie in [emin, emax].
__attribute__((always_inline)) inline AxisPlace PlaceOnZ(double edge, const GridGeometry& g) {
  const uint32_t z_last = static_cast<uint32_t>(g.z_size - 1);
  const double fz = SamplePositionZ(edge, g);
  AxisPlace place;
  place.fill = FillCellZ(edge, g);
  place.lower = std::min(static_cast<uint32_t>(fz), z_last);
  place.upper = std::min(place.lower + 1, z_last);
  place.fraction = static_cast<float>(fz - place.lower);
  return place;
}

// One [1 2 1] / 4 pass along x from three adjacent slices, along y or z within a slice.
// Only cells of the interior (index 1 .. size - 2) are written, as in the full grid; the
// output's columns 0 and y_size - 1 must be empty already. Every other column of the
// output is rewritten, whatever it held before.
void XPass(GridSlice& out, const GridSlice& before, const GridSlice& centre, const GridSlice& after);
void YPass(GridSlice& out, const GridSlice& in);

// Two z passes, then value / weight (a zero weight counting as 1); only the value is
// kept. Every column of the output is rewritten, whatever it held before.
void ZPassesAndNormalise(GridSlice& out, const GridSlice& in);

// A few slices of one stage, keyed by their x index; requests come in increasing x, and
// N consecutive slices never share a slot.
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
  // A slot for slice x, all zero.
  GridSlice& Claim(int32_t x) {
    GridSlice& slice = Take(x);
    slice.ClearAll();
    return slice;
  }
  // A slot for slice x still holding an older slice, for a caller that sets every
  // column's range anew (GridSlice::RangeColumn) and writes it.
  GridSlice& Take(int32_t x) {
    keys_[Slot(x)] = x;
    return slots_[Slot(x)];
  }
  const GridSlice& Get(int32_t x) const { return slots_[Slot(x)]; }

 private:
  static size_t Slot(int32_t x) { return static_cast<size_t>(x) % N; }
  std::array<GridSlice, N> slots_;
  std::array<int32_t, N> keys_{};
};

}  // namespace vantorel
