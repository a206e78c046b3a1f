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
    if (lo[y] <= hi[y]) Zero(y, lo[y], hi[y]);
    lo[y] = 1;
    hi[y] = 0;
  }

  // Makes [new_lo, new_hi] (empty when new_lo > new_hi) the non-zero range of column y,
  // for a caller that then writes every cell of it: only the cells of the old range
  // outside the new one need zeroing.
  __attribute__((always_inline)) void RangeColumn(int32_t y, int32_t new_lo, int32_t new_hi) {
    if (new_lo > new_hi) return ClearColumn(y);
    if (lo[y] <= hi[y]) {
      Zero(y, lo[y], std::min(hi[y], new_lo - 1));
      Zero(y, std::max(lo[y], new_hi + 1), hi[y]);
    }
    lo[y] = new_lo;
    hi[y] = new_hi;
  }

  void ClearAll() {
    for (int32_t y = 0; y < y_size; ++y) ClearColumn(y);
  }

 private:
  __attribute__((always_inline)) void Zero(int32_t y, int32_t from, int32_t to) {
    if (from > to) return;
    // Usually a few cells: a plain loop beats a call to memset. The empty statement keeps
    // the compiler from turning the loop back into memset calls.
    double* v = value.data() + Index(y, 0);
    double* w = weight.data() + Index(y, 0);
    for (int32_t z = from; z <= to; ++z) {
      v[z] = w[z] = 0.0;
      __asm__("" : : "r"(v + z));
    }
  }
};

}  // namespace vantorel
