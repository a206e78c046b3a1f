// The blur passes and the normalisation of the streaming grid core with each vector code
// the machine has (plain, AVX2, AVX-512) against the plain code, bit for bit: every value,
// numerator and range of the slices they write, including the cells they only zero. The
// columns are of 5 to 70 cells, so that they run one cell at a time, in blocks of four,
// eight or sixteen, with a short last block overlapping the one before; the slices are
// random with holes, full, flat or empty, and the outputs start out holding older slices,
// as the stream's rings hand them over.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "filters/cpu_features.h"
#include "filters/grid_counts.h"
#include "filters/grid_slice.h"
#include "filters/grid_stream_parts.h"

namespace vantorel {
namespace {

enum class Content { kHoled, kFull, kFlat };

// A slice of `rows` grid rows of z_size cells whose columns hold ranges within the interior
// (some empty, some of one cell, some the whole interior); cells outside a range are zero,
// as every slice of the stream keeps them. Counts up to `most`, the values their sums of
// samples of [0, 1].
template <typename Count>
GridSliceOf<Count> RandomSlice(std::mt19937& rng, int32_t rows, int32_t z_size, int64_t most, Content content) {
  GridSliceOf<Count> slice;
  slice.Reset(rows, z_size, 0, rows);
  std::uniform_int_distribution<int32_t> cell(1, z_size - 2);
  std::uniform_int_distribution<int64_t> count(0, most);
  std::uniform_real_distribution<double> mean(0.0, 1.0);
  for (int32_t y = 0; y < rows; ++y) {
    int32_t lo = 1, hi = z_size - 2;
    if (content != Content::kFull) {
      const uint32_t shape = rng() % 6;
      if (shape == 0) continue;  // empty
      lo = cell(rng);
      hi = shape == 1 ? lo : std::max(lo, cell(rng));
    }
    for (int32_t z = lo; z <= hi; ++z) {
      int64_t n = content == Content::kFlat ? most : count(rng);
      if (content == Content::kHoled && rng() % 3 == 0) n = 0;
      if (content != Content::kHoled && n == 0) n = 1;
      slice.weight[slice.Index(y, z)] = static_cast<Count>(n);
      slice.value[slice.Index(y, z)] = content == Content::kFlat ? 0.5 * static_cast<double>(n)
                                                                 : static_cast<double>(n) * mean(rng);
    }
    // The ends of a range are where the fill last added, so they hold pixels.
    for (const int32_t z : {lo, hi}) {
      if (slice.weight[slice.Index(y, z)] == 0) {
        slice.weight[slice.Index(y, z)] = 1;
        slice.value[slice.Index(y, z)] = mean(rng);
      }
    }
    slice.SetRange(y, lo, hi);
  }
  return slice;
}

std::vector<PassVectors> AvailableVectors() {
  std::vector<PassVectors> all = {PassVectors::kPlain};
  if (HasAvx2()) all.push_back(PassVectors::kAvx2);
  if (HasAvx512()) all.push_back(PassVectors::kAvx512);
  return all;
}

const char* NameOf(PassVectors v) {
  switch (v) {
    case PassVectors::kPlain:
      return "plain";
    case PassVectors::kAvx2:
      return "AVX2";
    case PassVectors::kAvx512:
      return "AVX-512";
  }
  return "?";
}

template <typename Count>
bool SameSlices(const GridSliceOf<Count>& a, const GridSliceOf<Count>& b) {
  if (a.value.size() != b.value.size() || a.weight != b.weight) return false;
  if (std::memcmp(a.value.data(), b.value.data(), a.value.size() * sizeof(double)) != 0) return false;
  for (int32_t y = 0; y < a.rows; ++y) {
    if (a.Lo(y) != b.Lo(y) || a.Hi(y) != b.Hi(y)) return false;
  }
  return true;
}

// Every pass with every vector code on the same inputs and the same stale output.
template <typename Count>
void ExpectEveryVectorCodeAlike(std::mt19937& rng, int32_t rows, int32_t z_size, int64_t most, Content content) {
  const auto random = [&] { return RandomSlice<Count>(rng, rows, z_size, most, content); };
  const GridSliceOf<Count> before = random(), centre = random(), after = random();
  const GridSliceOf<Count> stale = RandomSlice<Count>(rng, rows, z_size, most, Content::kHoled);
  const int32_t y_to = rows - 2;
  std::vector<GridSliceOf<Count>> x(3, stale), y(3, stale), z(3, stale);
  const std::vector<PassVectors> vectors = AvailableVectors();
  for (size_t k = 0; k < vectors.size(); ++k) {
    XPass(x[k], before, centre, after, 1, y_to, vectors[k]);
    YPass(y[k], centre, 1, y_to, vectors[k]);
    ZPassesAndNormalise(z[k], centre, 1, y_to, vectors[k]);
  }
  const std::string where = std::to_string(sizeof(Count) * 8) + "-bit counts, " + std::to_string(rows) + " rows of " +
                            std::to_string(z_size) + " cells, content " + std::to_string(static_cast<int>(content));
  for (size_t k = 1; k < vectors.size(); ++k) {
    EXPECT_TRUE(SameSlices(x[k], x[0])) << "x pass, " << NameOf(vectors[k]) << ", " << where;
    EXPECT_TRUE(SameSlices(y[k], y[0])) << "y pass, " << NameOf(vectors[k]) << ", " << where;
    EXPECT_TRUE(SameSlices(z[k], z[0])) << "z passes, " << NameOf(vectors[k]) << ", " << where;
  }
}

TEST(GridPassVectors, EveryVectorCodeWritesTheSameSlices) {
  std::mt19937 rng(23);
  for (int32_t z_size = 5; z_size <= 70; z_size += z_size < 30 ? 1 : 8) {
    for (const int32_t rows : {3, 4, 11}) {
      for (const Content content : {Content::kHoled, Content::kFull, Content::kFlat}) {
        ExpectEveryVectorCodeAlike<int32_t>(rng, rows, z_size, kMostPixelsForInt32Counts, content);
        ExpectEveryVectorCodeAlike<int32_t>(rng, rows, z_size, 3, content);
        ExpectEveryVectorCodeAlike<int64_t>(rng, rows, z_size, int64_t{1} << 40, content);
      }
    }
  }
}

// The passes do write what the comparison above compares: a lone cell of one pixel spreads
// as [1 2 1] along each axis, whichever code runs.
TEST(GridPassVectors, ALoneCellSpreadsAsOneTwoOne) {
  for (const PassVectors vectors : AvailableVectors()) {
    GridSliceOf<int32_t> empty, centre, x, y;
    empty.Reset(5, 21, 0, 5);
    centre.Reset(5, 21, 0, 5);
    x.Reset(5, 21, 0, 5);
    y.Reset(5, 21, 0, 5);
    centre.value[centre.Index(2, 10)] = 8.0;
    centre.weight[centre.Index(2, 10)] = 1;
    centre.SetRange(2, 10, 10);
    XPass(x, empty, centre, empty, 1, 3, vectors);
    EXPECT_EQ(x.value[x.Index(2, 10)], 4.0) << NameOf(vectors);
    EXPECT_EQ(x.weight[x.Index(2, 10)], 2) << NameOf(vectors);
    EXPECT_TRUE(x.Empty(1) && x.Empty(3)) << NameOf(vectors);
    YPass(y, centre, 1, 3, vectors);
    EXPECT_EQ(y.value[y.Index(1, 10)], 2.0) << NameOf(vectors);
    EXPECT_EQ(y.value[y.Index(2, 10)], 4.0) << NameOf(vectors);
    EXPECT_EQ(y.weight[y.Index(3, 10)], 1) << NameOf(vectors);
    EXPECT_EQ(y.value[y.Index(2, 9)], 0.0) << NameOf(vectors);
    // Along z twice: [1 4 6 4 1] / 16 of the value over [1 4 6 4 1] of the numerators, which
    // the normalisation takes as a weight after all six passes (over 4^6): 8 * 4^4 wherever
    // the weight is not zero.
    ZPassesAndNormalise(x, centre, 1, 3, vectors);
    EXPECT_EQ(x.Lo(2), 8) << NameOf(vectors);
    EXPECT_EQ(x.Hi(2), 12) << NameOf(vectors);
    for (int32_t z = 8; z <= 12; ++z) EXPECT_EQ(x.value[x.Index(2, z)], 2048.0) << NameOf(vectors) << ", z " << z;
    EXPECT_EQ(x.value[x.Index(2, 13)], 0.0) << NameOf(vectors);
  }
}

}  // namespace
}  // namespace vantorel
