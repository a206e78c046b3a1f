// The AVX2 kernels of the grid read-back and placement against their plain versions, bit
// for bit, on random batches (the machine running the tests decides whether the vector
// code is exercised; the plain code is what the reference core computes).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "filters/cpu_features.h"
#include "filters/grid_sample_row.h"
#include "filters/grid_z_places.h"

namespace vantorel {
namespace {

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(VectorKernels, SamplesMatchThePlainCodeBitForBit) {
  if (!HasAvx2()) GTEST_SKIP() << "no AVX2 here: only the plain code runs";
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> cell(-2.0, 2.0);
  std::uniform_real_distribution<float> fraction(0.0f, 1.0f);
  const int32_t y_size = 9, z_size = 12;
  std::vector<double> lower(y_size * z_size), upper(y_size * z_size);
  for (int round = 0; round < 200; ++round) {
    for (double& v : lower) v = cell(rng);
    for (double& v : upper) v = cell(rng);
    const int32_t count = 1 + static_cast<int32_t>(rng() % 40);
    std::vector<float> dx(count), dy(count), dz(count);
    std::vector<size_t> row0(count), row1(count);
    std::vector<uint32_t> z0(count), z1(count);
    for (int32_t i = 0; i < count; ++i) {
      dx[i] = fraction(rng);
      dy[i] = fraction(rng);
      dz[i] = fraction(rng);
      const size_t y = rng() % (y_size - 1);
      row0[i] = y * z_size;
      row1[i] = (y + 1) * z_size;
      z0[i] = rng() % z_size;
      // Mostly the next cell; at the top of a column the upper corner is clamped.
      z1[i] = z0[i] + 1 < static_cast<uint32_t>(z_size) && rng() % 8 != 0 ? z0[i] + 1 : z0[i];
    }
    std::vector<double> plain(count), vector(count);
    SampleJob job{lower.data(), upper.data(), count, dx.data(), dy.data(), dz.data(),
                  row0.data(), row1.data(), z0.data(), z1.data(), plain.data()};
    SamplePixelsPlain(job);
    job.out = vector.data();
    SamplePixelsVector(job);
    ASSERT_TRUE(SameBits(plain, vector)) << "round " << round << ", " << count << " pixels";
  }
}

TEST(VectorKernels, PlacesAlongZMatchThePlainCodeBitForBit) {
  if (!HasAvx2()) GTEST_SKIP() << "no AVX2 here: only the plain code runs";
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int round = 0; round < 100; ++round) {
    const int32_t count = 1 + static_cast<int32_t>(rng() % 300);
    std::vector<double> edges(count);
    const double scale = round % 3 == 0 ? 1.0 : 255.0 * unit(rng) + 1e-3;
    for (double& e : edges) e = scale * unit(rng);
    // Half-way values and the extremes are where rounding decides the cell.
    edges[0] = 0.0;
    if (count > 1) edges[count - 1] = scale;
    double emin = edges[0], emax = edges[0];
    for (double e : edges) emin = std::min(emin, e), emax = std::max(emax, e);
    const double sigma_r = round % 2 == 0 ? 0.1 : 0.001 + 0.3 * unit(rng);
    const GridGeometry g = MakeGridGeometry(10, 10, emin, emax, 4.0, sigma_r);
    std::vector<uint32_t> z0a(count), z1a(count), z0b(count), z1b(count);
    std::vector<float> dza(count), dzb(count);
    std::vector<int32_t> filla(count), fillb(count);
    PlaceEdgesOnZPlain(edges.data(), count, g, z0a.data(), z1a.data(), dza.data());
    PlaceEdgesOnZ(edges.data(), count, g, z0b.data(), z1b.data(), dzb.data());
    FillCellsOnZPlain(edges.data(), count, g, filla.data());
    FillCellsOnZ(edges.data(), count, g, fillb.data());
    ASSERT_EQ(z0a, z0b) << "round " << round;
    ASSERT_EQ(z1a, z1b) << "round " << round;
    ASSERT_EQ(0, std::memcmp(dza.data(), dzb.data(), count * sizeof(float))) << "round " << round;
    ASSERT_EQ(filla, fillb) << "round " << round;
  }
}

}  // namespace
}  // namespace vantorel
