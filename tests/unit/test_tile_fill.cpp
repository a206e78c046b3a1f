// The fill of one tile against the straightforward code, bit for bit: the widening and
// placing of float samples along the rows (vector code where the processor has it, four
// pixels at a time, the last four of a row again), and the sums down the columns, each
// cell's additions in pixel order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "filters/grid_z_places.h"
#include "filters/tile_sums.h"

namespace vantorel {
namespace {

// A picture of `rows` rows, `width` samples each, rows `pitch` floats apart (pitch >= width).
struct Samples {
  std::vector<float> data;
  size_t pitch;
};

Samples RandomSamples(std::mt19937& rng, int32_t rows, size_t pitch, float lo, float hi, bool flat) {
  std::uniform_real_distribution<float> sample(lo, hi);
  Samples s{std::vector<float>(static_cast<size_t>(rows) * pitch), pitch};
  const float level = sample(rng);
  for (float& v : s.data) v = flat ? level : sample(rng);
  if (!flat) {
    s.data.front() = lo;
    s.data.back() = hi;
  }
  return s;
}

TEST(TileFill, WidenedValuesAndCellsAreThoseOfEachPixel) {
  std::mt19937 rng(1225);
  const int32_t column_counts[] = {1, 2, 3, 4, 5, 7, 8, 13, 35, 36};
  const int32_t row_counts[] = {1, 2, 35};
  // {value stride, edge stride, values are the edges}: a plane, a channel of a colour
  // picture, a stride known only at run time; a plane smoothed along a plane or along a
  // colour guide's channel.
  const struct {
    size_t value_stride, edge_stride;
    bool same;
  } layouts[] = {{1, 1, true}, {3, 3, true}, {2, 2, true}, {1, 1, false}, {1, 3, false}, {2, 5, false}};
  int round = 0;
  for (const int32_t columns : column_counts) {
    for (const int32_t rows : row_counts) {
      for (const auto& layout : layouts) {
        ++round;
        const bool flat = round % 7 == 0;
        const float emin = -0.25f + static_cast<float>(round % 5) * 0.1f, emax = emin + 1.5f;
        const GridGeometry g = MakeGridGeometry(columns, rows, emin, emax, 35.0, round % 2 ? 0.1 : 0.013);
        const size_t extra = round % 3;  // rows longer than the tile's columns
        const Samples edges =
            RandomSamples(rng, rows, columns * layout.edge_stride + extra, emin, emax, flat);
        const Samples own =
            RandomSamples(rng, rows, columns * layout.value_stride + extra, -2.0f, 3.0f, flat);
        const Samples& values = layout.same ? edges : own;
        const FloatTile tile{values.data.data(), layout.value_stride, values.pitch * sizeof(float),
                             edges.data.data(), layout.edge_stride, edges.pitch * sizeof(float), columns, rows};
        const size_t pixels = static_cast<size_t>(columns) * rows;
        // One sentinel after the tile: nothing is written past it.
        std::vector<double> widened(pixels + 1, 7.0), expected_widened(pixels + 1, 7.0);
        std::vector<int32_t> cells(pixels + 1, -7), expected_cells(pixels + 1, -7);
        for (int32_t i = 0; i < rows; ++i) {
          for (int32_t c = 0; c < columns; ++c) {
            const size_t k = static_cast<size_t>(i) * columns + c;
            expected_widened[k] = static_cast<double>(values.data[i * values.pitch + c * layout.value_stride]);
            expected_cells[k] = FillCellZ(static_cast<double>(edges.data[i * edges.pitch + c * layout.edge_stride]), g);
          }
        }
        WidenAndFillCells(tile, g, widened.data(), cells.data());
        const std::string what = std::to_string(rows) + "x" + std::to_string(columns) + ", strides " +
                                 std::to_string(layout.value_stride) + "/" + std::to_string(layout.edge_stride) +
                                 (layout.same ? " (one channel)" : "") + (flat ? ", flat" : "");
        EXPECT_EQ(0, std::memcmp(widened.data(), expected_widened.data(), widened.size() * sizeof(double))) << what;
        EXPECT_EQ(cells, expected_cells) << what;
      }
    }
  }
}

// The straightforward fill of a tile: every pixel added to its cell on its own, columns
// outer, rows inner.
void PlainSums(const std::vector<double>& values, const std::vector<int32_t>& cells, int32_t columns, int32_t rows,
               std::vector<double>& value, std::vector<int64_t>& weight, int32_t& lo, int32_t& hi) {
  for (int32_t c = 0; c < columns; ++c) {
    for (int32_t i = 0; i < rows; ++i) {
      const size_t k = static_cast<size_t>(i) * columns + c;
      value[cells[k]] += values[k];
      weight[cells[k]] += 1;
      lo = std::min(lo, cells[k]);
      hi = std::max(hi, cells[k]);
    }
  }
}

TEST(TileFill, SumsFollowTheColumnOrderBitForBit) {
  std::mt19937 rng(35);
  const int32_t z_size = 12;
  int order_matters = 0;  // cases where rows outer would give other bits
  for (int round = 0; round < 400; ++round) {
    const int32_t columns = 1 + static_cast<int32_t>(rng() % 40), rows = 1 + static_cast<int32_t>(rng() % 40);
    const size_t pixels = static_cast<size_t>(columns) * rows;
    // Values of very different sizes, so that another order of additions rounds otherwise.
    std::vector<double> values(pixels);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (double& v : values) v = unit(rng) * (rng() % 4 == 0 ? 1e8 : 1e-3);
    // Cells in runs down the columns (as in a smooth picture), each changed at random, or
    // one cell for the whole tile, or every pixel anywhere between 2 and z_size - 3.
    std::vector<int32_t> cells(pixels + columns, kEndOfColumn);
    const int kind = round % 3;
    int32_t run_cell = 2 + static_cast<int32_t>(rng() % (z_size - 4));
    for (int32_t c = 0; c < columns; ++c) {
      for (int32_t i = 0; i < rows; ++i) {
        if (kind == 0 && rng() % 6 == 0) run_cell = 2 + static_cast<int32_t>(rng() % (z_size - 4));
        cells[static_cast<size_t>(i) * columns + c] =
            kind == 2 ? 2 + static_cast<int32_t>(rng() % (z_size - 4)) : run_cell;
      }
    }
    // A column that already holds earlier sums (a tile cut into batches), or none; weights
    // (counts of pixels) as 32-bit numbers and as 64-bit ones.
    std::vector<double> value(z_size, 0.0);
    std::vector<int64_t> weight(z_size, 0);
    int32_t lo = std::numeric_limits<int32_t>::max(), hi = std::numeric_limits<int32_t>::min();
    if (round % 2) {
      for (int32_t z = 4; z <= 6; ++z) {
        value[z] = unit(rng) * 1e8;
        weight[z] = static_cast<int64_t>(1 + rng() % 50);
      }
      lo = 4;
      hi = 6;
    }
    std::vector<double> plain_value = value, rows_first = value;
    std::vector<int64_t> plain_weight = weight;
    int32_t plain_lo = lo, plain_hi = hi;
    PlainSums(values, cells, columns, rows, plain_value, plain_weight, plain_lo, plain_hi);
    const TilePixels tile{values.data(), cells.data(), columns, rows};
    if (round % 4 < 2) {
      SumTile(tile, value.data(), weight.data(), lo, hi);
    } else {
      std::vector<int32_t> narrow(weight.begin(), weight.end());
      SumTile(tile, value.data(), narrow.data(), lo, hi);
      weight.assign(narrow.begin(), narrow.end());
    }
    const std::string what = "round " + std::to_string(round) + ": " + std::to_string(rows) + "x" +
                             std::to_string(columns);
    EXPECT_EQ(0, std::memcmp(value.data(), plain_value.data(), z_size * sizeof(double))) << what;
    EXPECT_EQ(weight, plain_weight) << what;
    EXPECT_EQ(lo, plain_lo) << what;
    EXPECT_EQ(hi, plain_hi) << what;
    // The same pixels taken rows outer (the order they lie in memory): not the contract.
    for (int32_t i = 0; i < rows; ++i) {
      for (int32_t c = 0; c < columns; ++c) {
        const size_t k = static_cast<size_t>(i) * columns + c;
        rows_first[cells[k]] += values[k];
      }
    }
    if (std::memcmp(rows_first.data(), plain_value.data(), z_size * sizeof(double)) != 0) ++order_matters;
  }
  // The cases above are ones where the order shows in the bits, so the comparison could fail.
  EXPECT_GT(order_matters, 100);
}

}  // namespace
}  // namespace vantorel
