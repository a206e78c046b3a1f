// One x-slice of the bilateral grid, as the streaming core keeps it: value and weight in
// separate arrays (y major, z minor) and, per y column, the z range that may be non-zero.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vantorel {

struct GridSlice {
  int32_t y_size = 0;
  int32_t z_size = 0;
  std::vector<double> value;
  std::vector<double> weight;
  // Cells of column y outside [lo[y], hi[y]] are exactly zero; lo > hi means all zero.
  std::vector<int32_t> lo;
  std::vector<int32_t> hi;

  void Reset(int32_t ys, int32_t zs) {
    y_size = ys;
    z_size = zs;
    value.assign(static_cast<size_t>(ys) * zs, 0.0);
    weight.assign(static_cast<size_t>(ys) * zs, 0.0);
    lo.assign(ys, 1);
    hi.assign(ys, 0);
  }

  size_t Index(int32_t y, int32_t z) const { return static_cast<size_t>(y) * z_size + z; }

  // Zeroes whatever column y held, so that a new range can be written into it.
  void ClearColumn(int32_t y) {
    if (lo[y] <= hi[y]) {
      std::fill(value.begin() + Index(y, lo[y]), value.begin() + Index(y, hi[y]) + 1, 0.0);
      std::fill(weight.begin() + Index(y, lo[y]), weight.begin() + Index(y, hi[y]) + 1, 0.0);
    }
    lo[y] = 1;
    hi[y] = 0;
  }

  void ClearAll() {
    for (int32_t y = 0; y < y_size; ++y) ClearColumn(y);
  }
};

}  // namespace vantorel
