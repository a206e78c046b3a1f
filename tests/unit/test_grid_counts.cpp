// The weights kept as integer numerators: the streaming core's passes against the
// reference's double passes at the largest counts each integer width is chosen for, and
// the choice of width.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "filters/grid_counts.h"
#include "filters/grid_geometry.h"
#include "filters/grid_slice.h"
#include "filters/grid_stream_parts.h"
#include "reference_grid.h"

namespace vantorel {
namespace {

constexpr int32_t kSide = 9;  // slices and grid rows

size_t CellOf(const BilateralGrid& grid, int32_t x, int32_t y, int32_t z) {
  return (static_cast<size_t>(x) * grid.y_size + y) * grid.z_size + z;
}

// A grid whose cells x, y in 2 .. 6 and z in 2 .. z_size - 3 were filled with `most`
// pixels each, their values a sum of that many samples of [0, 1]. Full, the centre cells'
// 5 x 5 x 5 neighbourhood is full, so their numerators reach 4096 * most; with holes, a
// third of the cells hold fewer pixels or none, so that ranges start and end anywhere.
BilateralGrid FilledGrid(int32_t z_size, int64_t most, bool holes, std::mt19937& rng) {
  BilateralGrid grid;
  grid.x_size = kSide;
  grid.y_size = kSide;
  grid.z_size = z_size;
  grid.storage.assign(static_cast<size_t>(kSide) * kSide * z_size, GridCell{});
  std::uniform_real_distribution<double> mean(0.0, 1.0);
  std::uniform_int_distribution<int64_t> fewer(0, most);
  for (int32_t x = 2; x <= 6; ++x) {
    for (int32_t y = 2; y <= 6; ++y) {
      for (int32_t z = 2; z <= z_size - 3; ++z) {
        const int64_t count = holes && rng() % 3 == 0 ? fewer(rng) : most;
        GridCell& cell = grid.storage[CellOf(grid, x, y, z)];
        cell.weight = static_cast<double>(count);
        cell.value = count == 0 ? 0.0 : static_cast<double>(count) * mean(rng);
      }
    }
  }
  return grid;
}

// The normalised values as the streaming core computes them, its slices holding every row:
// fill, x pass, x pass, y pass, y pass, then the z passes with the normalisation.
template <typename Count>
std::vector<double> NormalisedByThePasses(const BilateralGrid& grid) {
  const int32_t xs = grid.x_size, ys = grid.y_size, zs = grid.z_size;
  std::vector<GridSliceOf<Count>> filled(xs), first_x(xs);
  for (int32_t x = 0; x < xs; ++x) {
    filled[x].Reset(ys, zs, 0, ys);
    first_x[x].Reset(ys, zs, 0, ys);
    for (int32_t y = 0; y < ys; ++y) {
      int32_t lo = zs, hi = -1;
      for (int32_t z = 0; z < zs; ++z) {
        const GridCell& cell = grid.storage[CellOf(grid, x, y, z)];
        if (cell.weight == 0.0) continue;
        filled[x].value[filled[x].Index(y, z)] = cell.value;
        filled[x].weight[filled[x].Index(y, z)] = static_cast<Count>(cell.weight);
        lo = std::min(lo, z);
        hi = std::max(hi, z);
      }
      if (lo <= hi) filled[x].SetRange(y, lo, hi);
    }
  }
  for (int32_t x = 1; x <= xs - 2; ++x) XPass(first_x[x], filled[x - 1], filled[x], filled[x + 1], 1, ys - 2);
  GridSliceOf<Count> a, b, normalised;
  a.Reset(ys, zs, 0, ys);
  b.Reset(ys, zs, 0, ys);
  normalised.Reset(ys, zs, 0, ys);
  std::vector<double> result(grid.storage.size(), 0.0);
  for (int32_t x = 1; x <= xs - 2; ++x) {
    XPass(a, first_x[x - 1], first_x[x], first_x[x + 1], 1, ys - 2);
    YPass(b, a, 1, ys - 2);
    YPass(a, b, 1, ys - 2);
    ZPassesAndNormalise(normalised, a, 1, ys - 2);
    std::copy(normalised.value.begin(), normalised.value.end(), result.begin() + CellOf(grid, x, 0, 0));
  }
  return result;
}

// Every normalised value, bit for bit; the reference's passes run in double.
template <typename Count>
void ExpectPassesMatchTheReference(int32_t z_size, int64_t most, bool holes, uint32_t seed) {
  std::mt19937 rng(seed);
  BilateralGrid reference = FilledGrid(z_size, most, holes, rng);
  const std::vector<double> got = NormalisedByThePasses<Count>(reference);
  BlurAndNormalise(reference);
  int mismatches = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    if (std::memcmp(&got[i], &reference.storage[i].value, sizeof(double)) != 0) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0) << sizeof(Count) * 8 << "-bit counts, " << most << " pixels a cell, z_size " << z_size
                           << (holes ? ", with holes" : ", full");
}

// Columns of 14 cells take the counts eight at a time and the values four at a time; of
// 9, the counts one by one and the values four at a time; of 5, both one by one.
TEST(GridCounts, PassesMatchTheDoublePassesAtTheLargestCountsOfEachWidth) {
  uint32_t seed = 1;
  for (const int32_t z_size : {14, 9, 5}) {
    for (const bool holes : {false, true}) {
      ExpectPassesMatchTheReference<int32_t>(z_size, kMostPixelsForInt32Counts, holes, ++seed);
      ExpectPassesMatchTheReference<int32_t>(z_size, 1, holes, ++seed);
      // Far beyond 32 bits, and still exact in the reference's doubles (4096 * 2^40 < 2^53).
      ExpectPassesMatchTheReference<int64_t>(z_size, int64_t{1} << 40, holes, ++seed);
    }
  }
}

int64_t MostPixels(int32_t width, int32_t height, double sigma_s) {
  const GridGeometry g = MakeGridGeometry(width, height, 0.0, 1.0, sigma_s, 0.1);
  return MostPixelsOfACell(FirstColumnOfSlices(PlaceAxis(width, sigma_s, g.x_size), g.x_size),
                           FirstColumnOfSlices(PlaceAxis(height, sigma_s, g.y_size), g.y_size));
}

// A pixel goes to its nearest cell: with cells of s pixels, cell 2 takes columns [0, s/2)
// and the next ones s columns each.
TEST(GridCounts, MostPixelsOfACellAndTheWidthTheyNeed) {
  EXPECT_EQ(MostPixels(1920, 1080, 4.0), 16);
  EXPECT_EQ(MostPixels(7, 3, 4.0), 4 * 2);  // columns 2, 4, 1; rows 2, 1
  EXPECT_EQ(MostPixels(1, 1, 35.0), 1);
  EXPECT_EQ(MostPixels(700, 1300, 600.0), 400 * 600);  // columns 300, 400; rows 300, 600, 400
  EXPECT_EQ(MostPixels(1448, 1448, 724.0), 724 * 724);
  EXPECT_EQ(MostPixels(1300, 1300, 800.0), 800 * 800);
  EXPECT_TRUE(CountsFitInt32(MostPixels(1448, 1448, 724.0)));
  EXPECT_TRUE(CountsFitInt32(kMostPixelsForInt32Counts));
  EXPECT_FALSE(CountsFitInt32(kMostPixelsForInt32Counts + 1));
  EXPECT_FALSE(CountsFitInt32(MostPixels(1300, 1300, 800.0)));
}

}  // namespace
}  // namespace vantorel
