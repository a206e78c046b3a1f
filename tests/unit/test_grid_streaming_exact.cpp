// The streaming core against the reference core, bit for bit, on many random cases.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "bilateral_grid.h"
#include "vantorel/dehaze.h"
#include "band_rows.h"
#include "filters/schedule.h"
#include "reference_grid.h"

namespace vantorel {
namespace {

enum class EdgeKind { kConstant, kTwoLevel, kRamp, kNoise, kSameAsValues };

WorkMatrix MakeValues(int32_t w, int32_t h, std::mt19937& rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  WorkMatrix m(w, h, 0.0);
  for (double& v : m.storage) v = unit(rng);
  return m;
}

WorkMatrix MakeEdges(EdgeKind kind, const WorkMatrix& values, std::mt19937& rng) {
  WorkMatrix e(values.x_size, values.y_size, 0.0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double a = unit(rng), b = unit(rng);
  for (int32_t x = 0; x < e.x_size; ++x) {
    for (int32_t y = 0; y < e.y_size; ++y) {
      switch (kind) {
        case EdgeKind::kConstant: e(x, y) = a; break;
        case EdgeKind::kTwoLevel: e(x, y) = (x * 3 + y) % 7 < 3 ? a : b; break;
        case EdgeKind::kRamp: e(x, y) = (x + 2.0 * y) / (e.x_size + 2.0 * e.y_size); break;
        case EdgeKind::kNoise: e(x, y) = unit(rng); break;
        case EdgeKind::kSameAsValues: e(x, y) = values(x, y); break;
      }
    }
  }
  return e;
}

bool BitIdentical(const WorkMatrix& a, const WorkMatrix& b) {
  return a.x_size == b.x_size && a.y_size == b.y_size && a.storage.size() == b.storage.size() &&
         std::memcmp(a.storage.data(), b.storage.data(), a.storage.size() * sizeof(double)) == 0;
}

void ExpectSameAsReference(const WorkMatrix& values, const WorkMatrix& edges, double ss, double sr,
                           const std::string& what) {
  WorkMatrix expected, got;
  BilateralGridReferenceCPU(values, edges, ss, sr, expected);
  BilateralGridCPU(values, edges, ss, sr, got);
  EXPECT_TRUE(BitIdentical(expected, got)) << what;
}

TEST(StreamingGrid, MatchesTheReferenceBitForBitOnRandomCases) {
  std::mt19937 rng(20261207);
  std::uniform_int_distribution<int32_t> side(1, 300);
  std::uniform_real_distribution<double> sigma_s(0.5, 40.0), sigma_r(0.01, 0.5);
  const EdgeKind kinds[] = {EdgeKind::kConstant, EdgeKind::kTwoLevel, EdgeKind::kRamp,
                            EdgeKind::kNoise, EdgeKind::kSameAsValues};
  for (int i = 0; i < 60; ++i) {
    const int32_t w = i < 4 ? 1 + i % 2 : side(rng);
    const int32_t h = i < 4 ? 1 + i / 2 : side(rng);
    const WorkMatrix values = MakeValues(w, h, rng);
    const EdgeKind kind = kinds[i % 5];
    const WorkMatrix edges = MakeEdges(kind, values, rng);
    // The pipeline's own call sites, then random scales.
    const double sigmas[][2] = {{4.0, 0.02}, {35.0, 0.1}, {35.0, 0.2},
                                {35.0, static_cast<double>(0.1f)}, {sigma_s(rng), sigma_r(rng)}};
    const auto& s = sigmas[i % 5];
    ExpectSameAsReference(values, edges, s[0], s[1],
                          std::to_string(w) + "x" + std::to_string(h) + " kind " +
                              std::to_string(i % 5) + " sigmas " + std::to_string(s[0]) + "/" +
                              std::to_string(s[1]));
  }
}

// A sigma_s larger than a fill batch: one band of rows holds more pixels per column than
// the fill places at once, so columns are split along their rows, and the read-back runs
// are hundreds of pixels wide.
TEST(StreamingGrid, MatchesTheReferenceWithHugeCells) {
  std::mt19937 rng(13);
  const WorkMatrix values = MakeValues(700, 1300, rng);
  for (const EdgeKind kind : {EdgeKind::kNoise, EdgeKind::kSameAsValues}) {
    const WorkMatrix edges = MakeEdges(kind, values, rng);
    ExpectSameAsReference(values, edges, 600.0, 0.05, "700x1300, sigma_s 600");
  }
}

// Cells of 800 x 800 pixels: the weights' numerators outgrow 32 bits and are kept in 64.
TEST(StreamingGrid, MatchesTheReferenceWithCellsTooLargeForThirtyTwoBitCounts) {
  std::mt19937 rng(17);
  const WorkMatrix values = MakeValues(1300, 1300, rng);
  for (const EdgeKind kind : {EdgeKind::kNoise, EdgeKind::kSameAsValues}) {
    const WorkMatrix edges = MakeEdges(kind, values, rng);
    ExpectSameAsReference(values, edges, 800.0, 0.05, "1300x1300, sigma_s 800");
  }
}

TEST(StreamingGrid, SameResultForAnyThreadCount) {
  std::mt19937 rng(5);
  const WorkMatrix values = MakeValues(517, 263, rng);
  const WorkMatrix edges = MakeEdges(EdgeKind::kNoise, values, rng);
  WorkMatrix expected;
  BilateralGridReferenceCPU(values, edges, 4.0, 0.02, expected);
  for (const char* threads : {"1", "2", "3", "7"}) {
    setenv("VANTOREL_THREADS", threads, 1);
    WorkMatrix got;
    BilateralGridCPU(values, edges, 4.0, 0.02, got);
    EXPECT_TRUE(BitIdentical(expected, got)) << threads << " threads";
  }
  unsetenv("VANTOREL_THREADS");
}

// Bands of rows are streamed on their own, each with a halo of grid rows: bands of one
// row, of a few rows (ending inside and on cell borders), and one band for everything, on
// one thread and on several (which also splits columns when bands are few).
TEST(StreamingGrid, SameResultForAnyBandSize) {
  std::mt19937 rng(77);
  std::uniform_int_distribution<int32_t> side(1, 160);
  std::uniform_real_distribution<double> sigma_s(0.5, 12.0), sigma_r(0.01, 0.3);
  for (int i = 0; i < 16; ++i) {
    const int32_t w = side(rng), h = i == 0 ? 1 : side(rng);
    const WorkMatrix values = MakeValues(w, h, rng);
    const WorkMatrix edges = MakeEdges(i % 2 ? EdgeKind::kNoise : EdgeKind::kSameAsValues, values, rng);
    const double ss = i % 3 == 0 ? 4.0 : sigma_s(rng), sr = i % 3 == 0 ? 0.02 : sigma_r(rng);
    WorkMatrix expected;
    BilateralGridReferenceCPU(values, edges, ss, sr, expected);
    for (const int band_rows : {1, 2, 3, 4, 9, 1 << 20}) {
      SetBandRowsForTesting(band_rows);
      for (const int threads : {1, 3}) {
        SetThreadCount(threads);
        WorkMatrix got;
        BilateralGridCPU(values, edges, ss, sr, got);
        EXPECT_TRUE(BitIdentical(expected, got))
            << w << "x" << h << " sigmas " << ss << "/" << sr << ", bands of " << band_rows
            << " rows, " << threads << " threads";
      }
    }
    SetBandRowsForTesting(0);
    SetThreadCount(0);
  }
}

TEST(StreamingGrid, ResultMayBeTheInputMatrix) {
  std::mt19937 rng(9);
  WorkMatrix values = MakeValues(211, 97, rng);
  const WorkMatrix edges = MakeEdges(EdgeKind::kRamp, values, rng);
  WorkMatrix expected;
  BilateralGridReferenceCPU(values, edges, 4.0, 0.02, expected);
  setenv("VANTOREL_THREADS", "3", 1);
  BilateralGridCPU(values, edges, 4.0, 0.02, values);
  unsetenv("VANTOREL_THREADS");
  EXPECT_TRUE(BitIdentical(expected, values));
}

}  // namespace
}  // namespace vantorel
