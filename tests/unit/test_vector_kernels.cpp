// The AVX2 kernels of the grid read-back and placement against their plain versions, bit
// for bit, on random rows and batches (the machine running the tests decides whether the
// vector code is exercised; the plain code computes what the reference core computes).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "filters/cpu_features.h"
#include "filters/grid_row_kernels.h"
#include "filters/grid_z_places.h"
#include "random_grid_rows.h"

namespace vantorel {
namespace {

// One random run row: slices, fractions and geometry.
struct RandomRow {
  std::vector<double> lower, upper;
  std::vector<float> dx;
  GridGeometry g;
  RunRow row{};
  RandomRow(std::mt19937& rng, int32_t count) {
    g = MakeGridGeometry(40, 30, 0.0, 1.0, 5.0, 0.05 + 0.2 * RandomFraction(rng));
    lower = RandomCells(rng, g);
    upper = RandomCells(rng, g);
    dx = RandomFractions(rng, count);
    const RandomSampleRows sampled(rng, g, 1);
    row = RunRow{lower.data(), upper.data(), sampled.row0[0], sampled.row1[0], sampled.dy[0], dx.data(), count};
  }
};

template <typename Out, typename Edges, typename T>
void ExpectSameRows(const RunRow& row, const Edges& edges, std::vector<T>& plain, std::vector<T>& vector,
                    size_t stride, int round) {
  std::fill(plain.begin(), plain.end(), T(7));
  std::fill(vector.begin(), vector.end(), T(7));
  SampleRunRowPlain(row, edges, Out{plain.data(), stride});
  SampleRunRowVector(row, edges, Out{vector.data(), stride});
  ASSERT_EQ(0, std::memcmp(plain.data(), vector.data(), plain.size() * sizeof(T))) << "round " << round;
}

TEST(VectorKernels, RowSamplesMatchThePlainCodeBitForBit) {
  if (!HasAvx2()) GTEST_SKIP() << "no AVX2 here: only the plain code runs";
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int round = 0; round < 300; ++round) {
    const int32_t count = 1 + static_cast<int32_t>(rng() % 40);
    const size_t stride = 1 + rng() % 3;
    RandomRow r(rng, count);
    // Float and double edges; one in eight beyond the top of the grid, where the upper
    // z corner is clamped.
    std::vector<float> float_edges(count * stride);
    std::vector<double> double_edges(count * stride);
    for (size_t i = 0; i < float_edges.size(); ++i) {
      double_edges[i] = rng() % 8 == 0 ? 1.0 + 0.5 * unit(rng) : unit(rng);
      float_edges[i] = static_cast<float>(double_edges[i]);
    }
    std::vector<AxisPlace> by_level(256);
    for (int level = 0; level < 256; ++level) by_level[level] = PlaceOnZ(level / 255.0, r.g);
    std::vector<uint8_t> levels(count * stride);
    for (uint8_t& level : levels) level = static_cast<uint8_t>(rng() % 256);

    std::vector<float> plain_f(count * stride), vector_f(count * stride);
    std::vector<double> plain_d(count * stride), vector_d(count * stride);
    std::vector<uint8_t> plain_b(count * stride), vector_b(count * stride);
    const EdgesOfRow<float> from_floats{float_edges.data(), stride, &r.g};
    const EdgesOfRow<double> from_doubles{double_edges.data(), stride, &r.g};
    const LevelsOfRow from_levels{levels.data(), stride, by_level.data()};
    ExpectSameRows<ValuesOfRow<float>>(r.row, from_floats, plain_f, vector_f, stride, round);
    ExpectSameRows<ValuesOfRow<double>>(r.row, from_doubles, plain_d, vector_d, stride, round);
    ExpectSameRows<BytesOfRow>(r.row, from_levels, plain_b, vector_b, stride, round);
    ExpectSameRows<ValuesOfRow<double>>(r.row, from_levels, plain_d, vector_d, stride, round);
  }
}

__attribute__((target("avx2"))) void StoreFourBytes(const BytesOfRow& out, const double* values) {
  out.Four(0, _mm256_loadu_pd(values));
}

// Results right at the byte rounding boundary: v * 255 + 0.5 lands on and around whole numbers.
TEST(VectorKernels, ByteStoresRoundHalvesUpLikeThePlainCode) {
  if (!HasAvx2()) GTEST_SKIP() << "no AVX2 here: only the plain code runs";
  std::vector<uint8_t> plain(4), vector(4);
  const BytesOfRow plain_out{plain.data(), 1}, vector_out{vector.data(), 1};
  for (int level = 0; level < 256; ++level) {
    const double half = (level + 0.5) / 255.0;
    const double values[4] = {half, std::nextafter(half, 0.0), std::nextafter(half, 1.0), level / 255.0};
    for (int k = 0; k < 4; ++k) plain_out.One(k, values[k]);
    StoreFourBytes(vector_out, values);
    ASSERT_EQ(plain, vector) << "level " << level;
  }
}

// The read-back's z places of a batch, four at a time where they fit, one by one after.
__attribute__((target("avx2"))) void PlaceWithVectors(const EdgesOfRow<double>& edges, int32_t count,
                                                      uint32_t* z0, uint32_t* z1, float* dz) {
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    __m128i lower, upper;
    __m128 fraction;
    edges.Four(i, lower, upper, fraction);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(z0 + i), lower);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(z1 + i), upper);
    _mm_storeu_ps(dz + i, fraction);
  }
  for (; i < count; ++i) {
    const AxisPlace place = edges.One(i);
    z0[i] = place.lower;
    z1[i] = place.upper;
    dz[i] = place.fraction;
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
    for (int32_t i = 0; i < count; ++i) {
      const AxisPlace place = PlaceOnZ(edges[i], g);
      z0a[i] = place.lower;
      z1a[i] = place.upper;
      dza[i] = place.fraction;
      filla[i] = FillCellZ(edges[i], g);
    }
    PlaceWithVectors(EdgesOfRow<double>{edges.data(), 1, &g}, count, z0b.data(), z1b.data(), dzb.data());
    FillCellsOnZ(edges.data(), count, g, fillb.data());
    ASSERT_EQ(z0a, z0b) << "round " << round;
    ASSERT_EQ(z1a, z1b) << "round " << round;
    ASSERT_EQ(0, std::memcmp(dza.data(), dzb.data(), count * sizeof(float))) << "round " << round;
    ASSERT_EQ(filla, fillb) << "round " << round;
  }
}

}  // namespace
}  // namespace vantorel
