// The grid's geometry, in one place: its sizes, and where a pixel coordinate or an edge
// value goes on it (the cell it is filled into, and the two corners it is sampled
// between).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vantorel {

// Cells between the image's first sample and the grid's edge on every axis.
constexpr int32_t kGridMargin = 2;

// Cells along an axis whose samples span `extent`: trunc(extent / sigma) + 5, a margin
// of two on each side.
inline int32_t CellsAlong(double extent, double sigma) {
  return static_cast<int32_t>(extent / sigma) + kGridMargin * 2 + 1;
}

// The cell a sample at `position` (in cells from the first sample) is filled into: the
// nearest, halves going up. Positions are never negative, so truncation rounds.
__attribute__((always_inline)) inline int32_t NearestCell(double position) {
  return static_cast<int32_t>(position + 0.5) + kGridMargin;
}

// The lower corner of a sample at grid position f, clamped to the grid as an unsigned
// comparison.
__attribute__((always_inline)) inline uint32_t LowerCorner(double f, int32_t size) {
  return std::min(static_cast<uint32_t>(f), static_cast<uint32_t>(size - 1));
}

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
  return NearestCell((edge - g.emin) / g.sigma_r);
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
  place.lower = LowerCorner(fz, g.z_size);
  place.upper = std::min(place.lower + 1, z_last);
  place.fraction = static_cast<float>(fz - place.lower);
  return place;
}

}  // namespace vantorel
