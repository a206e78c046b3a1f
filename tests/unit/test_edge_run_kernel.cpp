// The read-back of whole image rows of float edges with AVX2 (and, where the processor has
// it, AVX-512) against the plain row kernel, bit for bit: many rows in one call, each cut into runs of columns of any width (runs
// narrower than four pixels too), edges adjacent, three apart (a channel of a colour
// picture) or two apart (the stride not fixed at compile time), edges at both ends of
// their range.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "filters/cpu_features.h"
#include "filters/edge_run_kernel.h"
#include "random_grid_rows.h"

namespace vantorel {
namespace {

// `rows` image rows cut into runs of the given widths, each run with its own two slices of
// random cells; per-row sample rows and fractions, and random edges in [emin, emax], both
// ends included.
struct RandomRows {
  GridGeometry g;
  std::vector<std::vector<double>> slices;  // two per run
  std::vector<ColumnRun> runs;
  std::vector<float> dx;
  RandomSampleRows sampled;
  std::vector<float> edges;
  size_t stride;
  int32_t width = 0, rows;

  RandomRows(std::mt19937& rng, const std::vector<int32_t>& widths, int32_t image_rows, size_t edge_stride)
      : stride(edge_stride), rows(image_rows) {
    const float emin = RandomFraction(rng) - 0.5f, emax = emin + 0.01f + 2.0f * RandomFraction(rng);
    // sigma_r from a small part of the range (many z cells) to more than all of it.
    g = MakeGridGeometry(40, 30, emin, emax, 5.0, 0.001 + 0.5 * RandomFraction(rng));
    for (size_t k = 0; k < 2 * widths.size(); ++k) slices.push_back(RandomCells(rng, g));
    for (size_t r = 0; r < widths.size(); ++r) {
      runs.push_back(ColumnRun{slices[2 * r].data(), slices[2 * r + 1].data(), width, widths[r]});
      width += widths[r];
    }
    dx = RandomFractions(rng, width);
    sampled = RandomSampleRows(rng, g, rows);
    std::uniform_real_distribution<float> edge(emin, emax);
    edges.resize(static_cast<size_t>(rows) * width * stride);
    for (float& e : edges) e = edge(rng);
    edges.front() = emin;
    edges[edges.size() / 2 / stride * stride] = emax;
    edges[(edges.size() - 1) / stride * stride] = emax;
  }

  RunRow Row(const ColumnRun& run, int32_t y) const {
    return RunRow{run.lower, run.upper, sampled.row0[y], sampled.row1[y], sampled.dy[y], dx.data() + run.begin, run.count};
  }
};

// Rows for SampleRowsOfEdgesVector: the edges of row y lie width * stride samples after
// those of row y - 1, its results width after.
struct TestRows {
  const RandomRows* image;
  float* results;

  std::pair<const float*, float*> At(int32_t y, RunRow& row) const {
    row.row0 = image->sampled.row0[y];
    row.row1 = image->sampled.row1[y];
    row.dy = image->sampled.dy[y];
    return {image->edges.data() + static_cast<size_t>(y) * image->width * image->stride,
            results + static_cast<size_t>(y) * image->width};
  }
};

// Every row, or only rows [1, rows - 1) when there are three or more (the rest stay as
// they were).
template <int kStride>
void ExpectSameAsPlainRows(const RandomRows& image, const std::string& what) {
  const size_t size = static_cast<size_t>(image.rows) * image.width;
  const int32_t y_begin = image.rows >= 3 ? 1 : 0, y_end = image.rows >= 3 ? image.rows - 1 : image.rows;
  std::vector<float> plain(size, 7.0f), vector(size, 7.0f);
  for (int32_t y = y_begin; y < y_end; ++y) {
    for (const ColumnRun& run : image.runs) {
      const size_t at = static_cast<size_t>(y) * image.width + run.begin;
      SampleRunRowPlain(image.Row(run, y),
                        EdgesOfRow<float>{image.edges.data() + at * image.stride, image.stride, &image.g},
                        ValuesOfRow<float>{plain.data() + at, 1});
    }
  }
  SampleRowsOfEdgesVector<kStride>(image.runs.data(), image.runs.size(), image.dx.data(),
                                   TestRows{&image, vector.data()}, image.stride, image.g, y_begin, y_end);
  ASSERT_EQ(0, std::memcmp(plain.data(), vector.data(), size * sizeof(float))) << what;
  if (!HasAvx512()) return;
  std::vector<float> wide(size, 7.0f);
  SampleRowsOfEdgesWide<kStride>(image.runs.data(), image.runs.size(), image.dx.data(),
                                 TestRows{&image, wide.data()}, image.stride, image.g, y_begin, y_end);
  ASSERT_EQ(0, std::memcmp(plain.data(), wide.data(), size * sizeof(float))) << what << ", eight at a time";
}

TEST(EdgeRunKernel, WholeRowsMatchThePlainRowKernelBitForBit) {
  if (!HasAvx2()) GTEST_SKIP() << "no AVX2 here: only the plain code runs";
  std::mt19937 rng(35);
  for (int round = 0; round < 300; ++round) {
    // Runs of exactly four or eight, of widths not a multiple of four or eight, long ones
    // (cells of 35 pixels), and narrower than four; one row, and many.
    std::vector<int32_t> widths;
    const int run_count = 1 + static_cast<int>(rng() % 6);
    for (int r = 0; r < run_count; ++r) {
      const uint32_t kind = rng() % 5;
      widths.push_back(kind == 0   ? 4
                       : kind == 1 ? 1 + static_cast<int32_t>(rng() % 3)
                       : kind == 2 ? 8
                                   : 4 + static_cast<int32_t>(rng() % 37));
    }
    const int32_t rows = round % 5 == 0 ? 1 : 1 + static_cast<int32_t>(rng() % 12);
    const size_t stride = 1 + round % 3;
    std::string what = "round " + std::to_string(round) + ": runs";
    for (const int32_t w : widths) what += " " + std::to_string(w);
    what += ", " + std::to_string(rows) + " rows, stride " + std::to_string(stride);
    const RandomRows image(rng, widths, rows, stride);
    // The largest edge is emax, placed at the last sample.
    ASSERT_TRUE(EdgesBelowLastCell(image.edges[(image.edges.size() - 1) / stride * stride], image.g)) << what;
    if (stride == 1) ExpectSameAsPlainRows<1>(image, what);
    if (stride == 3) ExpectSameAsPlainRows<3>(image, what);
    ExpectSameAsPlainRows<0>(image, what + ", stride at run time");
  }
}

// The kernel never clamps a z corner: the caller must learn when an edge lies so high
// that its upper corner would be clamped to the grid's last cell, and take the plain path.
TEST(EdgeRunKernel, TellsWhenTheLargestEdgeReachesTheLastCell) {
  const GridGeometry g = MakeGridGeometry(10, 10, 0.0, 1.0, 4.0, 0.1);
  const AxisPlace top = PlaceOnZ(1.0, g);
  EXPECT_EQ(top.upper, top.lower + 1);
  EXPECT_TRUE(EdgesBelowLastCell(1.0, g));
  EXPECT_TRUE(EdgesBelowLastCell(0.0, g));
  // The last cell is z_size - 1 = 14: an edge whose lower corner is 14 (positions 2 + e /
  // 0.1 from 14 on, edges from about 1.2 on) has its upper corner clamped to it.
  ASSERT_EQ(g.z_size, 15);
  EXPECT_TRUE(EdgesBelowLastCell(1.15, g));
  EXPECT_FALSE(EdgesBelowLastCell(1.25, g));
  EXPECT_FALSE(EdgesBelowLastCell(5.0, g));
}

}  // namespace
}  // namespace vantorel
