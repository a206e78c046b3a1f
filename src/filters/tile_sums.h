// The sums of one tile of the fill: the pixels of a run of columns and a band of rows that
// all go into one (x, y) column of the grid, each into its z cell. A cell's value is the
// sum of its pixels' values in the order columns outer, rows inner, one double addition
// after another; its weight is the count of its pixels.
//
// The pixels come laid out row after row (as they lie in the image, so that they can be
// read and placed along the rows, several at a time) and are summed walking down the
// columns of that layout.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace vantorel {

// A tile's pixels: `rows` rows of `columns`, row-major; the value of the pixel at column
// c of row i and the z cell it goes into. `cells` has one row more, of kEndOfColumn, so
// that the walk down a column stops at the cell test it makes anyway.
constexpr int32_t kEndOfColumn = -1;  // no cell: cells are never negative
struct TilePixels {
  const double* values;
  const int32_t* cells;
  int32_t columns, rows;
};

// Adds the tile into one grid column (`value` and `weight` indexed by z; the weights are
// whole numbers, see grid_counts.h) and widens [lo, hi] to every cell it adds to.
// Pixels down a column often share their cell: the running sum of a cell stays in a
// register while they do, so that each addition need not wait for the store of the one
// before. The additions and their order are those above; the weight is a count, and
// adding the count at once equals adding 1 that many times.
template <typename Count>
void SumTile(const TilePixels& tile, double* value, Count* weight, int32_t& lo, int32_t& hi) {
  if (tile.columns <= 0 || tile.rows <= 0) return;
  const size_t across = static_cast<size_t>(tile.columns);
  const double* const values = tile.values;
  const int32_t* const cells = tile.cells;
  int32_t cell = cells[0];
  double sum = value[cell];
  int32_t count = 0;
  for (size_t c = 0; c < across; ++c) {
    for (size_t k = c;; k += across) {
      const int32_t z = cells[k];
      if (z != cell) {
        if (z == kEndOfColumn) break;
        value[cell] = sum;
        weight[cell] += static_cast<Count>(count);
        lo = std::min(lo, cell);
        hi = std::max(hi, cell);
        cell = z;
        sum = value[cell];
        count = 0;
      }
      sum += values[k];
      ++count;
    }
  }
  value[cell] = sum;
  weight[cell] += static_cast<Count>(count);
  lo = std::min(lo, cell);
  hi = std::max(hi, cell);
}

}  // namespace vantorel
