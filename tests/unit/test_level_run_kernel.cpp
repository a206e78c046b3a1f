// The read-back of whole runs of level edges (bytes, 16 bits) with AVX2 against the plain
// row kernel, bit for bit: many rows of a run in one call, runs of any width from four on,
// edges interleaved or not, results as bytes, words and doubles.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "filters/cpu_features.h"
#include "filters/level_run_kernel.h"
#include "random_grid_rows.h"

namespace vantorel {
namespace {

// A run of `count` columns over `rows` image rows: two slices of random cells (negative
// ones too, so that byte stores wrap as static_cast does), per-row sample rows and
// fractions, and random levels.
template <typename T>
struct RandomRun {
  GridGeometry g;
  std::vector<double> lower, upper;
  std::vector<float> dx;
  RandomSampleRows sampled;
  std::vector<T> levels;
  std::vector<AxisPlace> by_level;
  LevelCorners corners;
  size_t stride;
  int32_t count, rows;

  RandomRun(std::mt19937& rng, int32_t columns, int32_t image_rows, size_t edge_stride, int level_count)
      : stride(edge_stride), count(columns), rows(image_rows) {
    const double largest = level_count - 1;
    // Levels from lo to hi occur; sigma_r from under a level to most of the range.
    const int lo = static_cast<int>(rng() % level_count);
    const int hi = lo + static_cast<int>(rng() % (level_count - lo));
    g = MakeGridGeometry(40, 30, lo / largest, hi / largest, 5.0, 0.0005 + 0.3 * RandomFraction(rng));
    lower = RandomCells(rng, g);
    upper = RandomCells(rng, g);
    dx = RandomFractions(rng, count);
    sampled = RandomSampleRows(rng, g, rows);
    by_level.resize(level_count);
    for (int level = lo; level <= hi; ++level) by_level[level] = PlaceOnZ(level / largest, g);
    corners = CornersOfLevels(by_level, [&](int level) { return level >= lo && level <= hi; });
    levels.resize(static_cast<size_t>(rows) * count * stride);
    for (T& level : levels) level = static_cast<T>(lo + static_cast<int>(rng() % (hi - lo + 1)));
  }

  RunRow Row(int32_t y) const {
    return RunRow{lower.data(), upper.data(), sampled.row0[y], sampled.row1[y], sampled.dy[y], dx.data(), count};
  }
};

// Rows for SampleRunOfLevelsVector: the edges and results of row y lie count * stride
// samples after those of row y - 1.
template <typename T, typename Out, typename R>
struct TestRows {
  const RandomRun<T>* run;
  R* results;

  auto At(int32_t y, RunRow& row) const {
    const RunRow r = run->Row(y);
    row.row0 = r.row0;
    row.row1 = r.row1;
    row.dy = r.dy;
    const size_t at = static_cast<size_t>(y) * run->count * run->stride;
    return std::make_pair(LevelCornersOfRow<T>{run->levels.data() + at, run->stride, run->corners.lower.data(),
                                               run->corners.fraction.data()},
                          Out{results + at, run->stride});
  }
};

template <typename T, typename Out, typename R>
void ExpectSameAsPlainRows(const RandomRun<T>& run, const std::string& what) {
  std::vector<R> plain(run.levels.size(), R(7)), vector(run.levels.size(), R(7));
  for (int32_t y = 0; y < run.rows; ++y) {
    const size_t at = static_cast<size_t>(y) * run.count * run.stride;
    SampleRunRowPlain(run.Row(y), SampleLevelsOfRow<T>{run.levels.data() + at, run.stride, run.by_level.data()},
                      Out{plain.data() + at, run.stride});
  }
  SampleRunOfLevelsVector(run.Row(0), TestRows<T, Out, R>{&run, vector.data()}, 0, run.rows);
  ASSERT_EQ(0, std::memcmp(plain.data(), vector.data(), plain.size() * sizeof(R))) << what;
}

TEST(LevelRunKernel, WholeRunsMatchThePlainRowKernelBitForBit) {
  if (!HasAvx2()) GTEST_SKIP() << "no AVX2 here: only the plain code runs";
  std::mt19937 rng(23);
  for (int round = 0; round < 200; ++round) {
    // Runs of exactly four (cells of four pixels), of a width not a multiple of four, and
    // long ones; one row, and many.
    const int32_t count = round % 4 == 0 ? 4 : 4 + static_cast<int32_t>(rng() % 37);
    const int32_t rows = round % 5 == 0 ? 1 : 1 + static_cast<int32_t>(rng() % 12);
    const size_t stride = round % 2 == 0 ? 3 : 1;
    const std::string what = "round " + std::to_string(round) + ": " + std::to_string(count) + " columns, " +
                             std::to_string(rows) + " rows, stride " + std::to_string(stride);
    const RandomRun<uint8_t> bytes(rng, count, rows, stride, 256);
    ASSERT_TRUE(bytes.corners.upper_is_next) << what;
    ExpectSameAsPlainRows<uint8_t, BytesOfRow, uint8_t>(bytes, what + ", bytes");
    ExpectSameAsPlainRows<uint8_t, ValuesOfRow<double>, double>(bytes, what + ", bytes to doubles");
    const RandomRun<uint16_t> words(rng, count, rows, stride, 65536);
    ASSERT_TRUE(words.corners.upper_is_next) << what;
    ExpectSameAsPlainRows<uint16_t, WordsOfRow, uint16_t>(words, what + ", words");
  }
}

// The kernel assumes each level's upper z corner is the next cell; a level whose corner is
// clamped at the top of the grid must make the tables say otherwise, so that the caller
// takes the plain path. Levels outside the range are not looked at.
TEST(LevelRunKernel, CornerTablesTellWhenAnUpperCornerIsClamped) {
  const GridGeometry g = MakeGridGeometry(10, 10, 0.0, 100 / 255.0, 4.0, 0.02);
  std::vector<AxisPlace> by_level(256);
  for (int level = 0; level < 256; ++level) by_level[level] = PlaceOnZ(level / 255.0, g);
  const LevelCorners within = CornersOfLevels(by_level, [](int level) { return level <= 100; });
  EXPECT_TRUE(within.upper_is_next);
  for (int level = 0; level <= 100; ++level) {
    EXPECT_EQ(within.lower[level], static_cast<int32_t>(by_level[level].lower)) << level;
    EXPECT_EQ(within.fraction[level], by_level[level].fraction) << level;
  }
  EXPECT_EQ(within.lower[200], 0);  // outside the range: never placed
  // Level 255 lies far above this grid: its lower corner is clamped to the last cell and
  // its upper corner with it.
  ASSERT_EQ(by_level[255].upper, by_level[255].lower);
  EXPECT_FALSE(CornersOfLevels(by_level, [](int) { return true; }).upper_is_next);
  EXPECT_FALSE(CornersOfLevels({}, [](int) { return true; }).upper_is_next);
}

}  // namespace
}  // namespace vantorel
