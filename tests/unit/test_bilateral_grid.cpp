// The filter core: grid sizes, worked examples, invariants, and a comparison with an
// independent dense evaluation of the same filter.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bilateral_grid.h"
#include "reference_grid.h"

namespace vantorel {
namespace {

WorkMatrix FromRows(const std::vector<std::vector<double>>& rows) {
  const int32_t h = static_cast<int32_t>(rows.size());
  const int32_t w = static_cast<int32_t>(rows[0].size());
  WorkMatrix m(w, h, 0.0);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) m(x, y) = rows[y][x];
  return m;
}

WorkMatrix Random(int32_t w, int32_t h, unsigned seed, double lo, double hi) {
  WorkMatrix m(w, h, 0.0);
  std::srand(seed);
  for (double& v : m.storage) v = lo + (hi - lo) * (std::rand() / static_cast<double>(RAND_MAX));
  return m;
}

TEST(GridSizing, SpatialSizesTruncateTheQuotientAndAddFive) {
  const BilateralGrid grid = MakeEmptyGrid(36, 10, 0.0, 35.0, 0.1);
  EXPECT_EQ(grid.x_size, 6);
  EXPECT_EQ(grid.y_size, 5);
  EXPECT_EQ(grid.z_size, 5);
  EXPECT_EQ(grid.storage.size(), 6u * 5u * 5u);
}

TEST(GridSizing, EdgeSpanOfOneDependsOnTheWidthOfTheRangeSigma) {
  EXPECT_EQ(MakeEmptyGrid(4, 4, 1.0, 4.0, 0.1).z_size, 15);
  EXPECT_EQ(MakeEmptyGrid(4, 4, 1.0, 4.0, static_cast<double>(0.1f)).z_size, 14);
  EXPECT_EQ(MakeEmptyGrid(4, 4, 1.0, 4.0, 0.02).z_size, 55);
}

TEST(BilateralGrid, OnePixelGivesAFiveCubedGridAndReturnsItsValue) {
  const WorkMatrix input = FromRows({{0.37}});
  double emin = 0;
  const BilateralGrid grid = BuildBlurredGrid(input, input, 4.0, 0.02, emin);
  EXPECT_EQ(grid.x_size, 5);
  EXPECT_EQ(grid.y_size, 5);
  EXPECT_EQ(grid.z_size, 5);
  WorkMatrix result;
  BilateralGridCPU(input, input, 4.0, 0.02, result);
  ASSERT_EQ(result.storage.size(), 1u);
  EXPECT_NEAR(result(0, 0), 0.37, 0.37 * 2e-7);
}

TEST(BilateralGrid, PixelsSharingOneCellReturnTheirMean) {
  // Both pixels fall into cell (2, 2, 2): every reached cell holds (a + b) / 2 after
  // normalisation, so each pixel reads the mean, up to the float weights.
  const WorkMatrix input = FromRows({{0.2, 0.6}});
  const WorkMatrix edge = FromRows({{0.5, 0.5}});
  WorkMatrix result;
  BilateralGridCPU(input, edge, 4.0, 0.1, result);
  EXPECT_NEAR(result(0, 0), 0.4, 1e-7);
  EXPECT_NEAR(result(1, 0), 0.4, 1e-7);
}

TEST(BilateralGrid, ConstantInputStaysConstantWhateverTheEdges) {
  const double c = 0.7310585;
  for (unsigned seed : {1u, 2u, 3u}) {
    WorkMatrix input(23, 17, c);
    const WorkMatrix edge = Random(23, 17, seed, 0.0, 1.0);
    WorkMatrix result;
    BilateralGridCPU(input, edge, 3.0, 0.05, result);
    for (double v : result.storage) EXPECT_NEAR(v, c, c * 2.5e-7);
  }
}

TEST(BilateralGrid, EdgesSixRangeSigmasApartDoNotInfluenceEachOther) {
  // A checkerboard of two edge levels 6 sigma_r apart: each pixel only averages pixels of
  // its own level, whose values are all equal.
  const double sigma_r = 0.05;
  WorkMatrix input(12, 9, 0.0), edge(12, 9, 0.0);
  for (int32_t x = 0; x < 12; ++x) {
    for (int32_t y = 0; y < 9; ++y) {
      const bool high = (x + y) % 2 == 1;
      edge(x, y) = high ? 6 * sigma_r : 0.0;
      input(x, y) = high ? 0.9 : 0.1;
    }
  }
  WorkMatrix result;
  BilateralGridCPU(input, edge, 2.0, sigma_r, result);
  for (int32_t x = 0; x < 12; ++x)
    for (int32_t y = 0; y < 9; ++y) EXPECT_NEAR(result(x, y), input(x, y), 1e-6) << x << "," << y;
}

TEST(BilateralGrid, ResultStaysWithinTheInputRange) {
  const WorkMatrix input = Random(31, 19, 11, 0.0, 1.0);
  WorkMatrix result;
  BilateralGridCPU(input, input, 4.0, 0.02, result);
  for (double v : result.storage) {
    EXPECT_GE(v, -1e-7);
    EXPECT_LE(v, 1.0 + 1e-7);
  }
}

TEST(BilateralGrid, InputMayBeTheResultMatrix) {
  WorkMatrix input = Random(13, 11, 5, 0.0, 1.0);
  const WorkMatrix edge = Random(13, 11, 6, 0.0, 1.0);
  WorkMatrix separate;
  BilateralGridCPU(input, edge, 2.0, 0.1, separate);
  BilateralGridCPU(input, edge, 2.0, 0.1, input);
  EXPECT_EQ(input.storage, separate.storage);
}

// An independent evaluation: the six passes are the separable linear operator
// Bx^2 (x) By^2 (x) Bz^2 applied to the filled grid, where B is the [1 2 1] / 4 matrix whose
// first and last rows are zero (the outer layer is never written). Each pixel then reads the
// normalised cells through trilinear weights.
std::vector<std::vector<double>> TwoPassOperator(int n) {
  std::vector<std::vector<double>> b(n, std::vector<double>(n, 0.0)), bb = b;
  for (int i = 1; i < n - 1; ++i) {
    b[i][i - 1] = 0.25;
    b[i][i] = 0.5;
    b[i][i + 1] = 0.25;
  }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) bb[i][j] += b[i][k] * b[k][j];
  return bb;
}

double DenseReference(const WorkMatrix& input, const WorkMatrix& edge, double ss, double sr,
                      int32_t px, int32_t py) {
  double emin = edge.storage[0], emax = edge.storage[0];
  for (double e : edge.storage) emin = std::min(emin, e), emax = std::max(emax, e);
  const int nx = static_cast<int>((input.x_size - 1) / ss) + 5;
  const int ny = static_cast<int>((input.y_size - 1) / ss) + 5;
  const int nz = static_cast<int>((emax - emin) / sr) + 5;
  const auto kx = TwoPassOperator(nx), ky = TwoPassOperator(ny), kz = TwoPassOperator(nz);
  auto blurred = [&](int cx, int cy, int cz, bool weight) {
    double sum = 0.0;
    for (int32_t x = 0; x < input.x_size; ++x) {
      for (int32_t y = 0; y < input.y_size; ++y) {
        const int gx = static_cast<int>(std::floor(x / ss + 0.5)) + 2;
        const int gy = static_cast<int>(std::floor(y / ss + 0.5)) + 2;
        const int gz = static_cast<int>(std::floor((edge(x, y) - emin) / sr + 0.5)) + 2;
        sum += kx[cx][gx] * ky[cy][gy] * kz[cz][gz] * (weight ? 1.0 : input(x, y));
      }
    }
    return sum;
  };
  const double fx = px / ss + 2, fy = py / ss + 2, fz = (edge(px, py) - emin) / sr + 2;
  const int x0 = static_cast<int>(fx), y0 = static_cast<int>(fy), z0 = static_cast<int>(fz);
  const double dx = fx - x0, dy = fy - y0, dz = fz - z0;
  double out = 0.0;
  for (int cx = 0; cx < 2; ++cx) {
    for (int cy = 0; cy < 2; ++cy) {
      for (int cz = 0; cz < 2; ++cz) {
        const double w = (cx ? dx : 1 - dx) * (cy ? dy : 1 - dy) * (cz ? dz : 1 - dz);
        const double weight = blurred(x0 + cx, y0 + cy, z0 + cz, true);
        if (weight != 0.0) out += w * blurred(x0 + cx, y0 + cy, z0 + cz, false) / weight;
      }
    }
  }
  return out;
}

TEST(BilateralGrid, AgreesWithADenseEvaluationOfTheSameFilter) {
  struct Case {
    int32_t w, h;
    double ss, sr;
    bool self_guided;
  } cases[] = {{5, 4, 1.5, 0.1, true}, {7, 3, 2.0, 0.2, false}, {6, 6, 1.0, 0.3, false},
               {9, 2, 3.0, 0.05, true}};
  unsigned seed = 100;
  for (const Case& c : cases) {
    const WorkMatrix input = Random(c.w, c.h, ++seed, 0.0, 1.0);
    const WorkMatrix edge = c.self_guided ? input : Random(c.w, c.h, ++seed, 0.0, 1.0);
    WorkMatrix result;
    BilateralGridCPU(input, edge, c.ss, c.sr, result);
    for (int32_t x = 0; x < c.w; ++x) {
      for (int32_t y = 0; y < c.h; ++y) {
        // The float interpolation weights bound the agreement to about 1e-7.
        EXPECT_NEAR(result(x, y), DenseReference(input, edge, c.ss, c.sr, x, y), 3e-7)
            << c.w << "x" << c.h << " at " << x << "," << y;
      }
    }
  }
}

TEST(TrilinearSample, CornerWeightsFollowTheFractions) {
  BilateralGrid grid = MakeEmptyGrid(1, 1, 0.0, 1.0, 1.0);
  // Cell (2, 2, 2) holds 1, cell (3, 2, 2) holds 3: halfway along x reads 2.
  auto at = [&](int x, int y, int z) -> GridCell& {
    return grid.storage[(static_cast<size_t>(x) * grid.y_size + y) * grid.z_size + z];
  };
  at(2, 2, 2) = {1.0, 1.0};
  at(3, 2, 2) = {3.0, 1.0};
  EXPECT_EQ(TrilinearSample(grid, 2.5, 2.0, 2.0).value, 2.0);
  EXPECT_EQ(TrilinearSample(grid, 2.25, 2.0, 2.0).value, 1.5);
  EXPECT_EQ(TrilinearSample(grid, 2.0, 2.0, 2.5).value, 0.5);
  // Positions past the grid clamp to its last cell instead of reading beyond it.
  EXPECT_EQ(TrilinearSample(grid, 40.0, 40.0, 40.0).value, 0.0);
}

}  // namespace
}  // namespace vantorel
