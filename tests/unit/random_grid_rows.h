// Random inputs of the grid read-back for the kernel tests: slices of cells (negative ones
// too, so that byte stores wrap as static_cast does), fractions, and image rows sampled
// between two adjacent grid rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "filters/grid_geometry.h"

namespace vantorel {

inline std::vector<double> RandomCells(std::mt19937& rng, const GridGeometry& g) {
  std::uniform_real_distribution<double> cell(-2.0, 2.0);
  std::vector<double> cells(static_cast<size_t>(g.y_size) * g.z_size);
  for (double& v : cells) v = cell(rng);
  return cells;
}

inline float RandomFraction(std::mt19937& rng) { return std::uniform_real_distribution<float>(0.0f, 1.0f)(rng); }

inline std::vector<float> RandomFractions(std::mt19937& rng, size_t count) {
  std::vector<float> fractions(count);
  for (float& f : fractions) f = RandomFraction(rng);
  return fractions;
}

// Per image row: the offsets of the two grid rows it lies between, and its fraction.
struct RandomSampleRows {
  std::vector<size_t> row0, row1;
  std::vector<float> dy;

  RandomSampleRows() = default;
  RandomSampleRows(std::mt19937& rng, const GridGeometry& g, int32_t rows) {
    for (int32_t y = 0; y < rows; ++y) {
      const size_t r = rng() % (g.y_size - 1);
      row0.push_back(r * g.z_size);
      row1.push_back((r + 1) * g.z_size);
      dy.push_back(RandomFraction(rng));
    }
  }
};

}  // namespace vantorel
