// The bilateral grid, written step by step: size, fill, blur, normalise, read back.
// This is the reference the faster core is proven against; keep it plain.
#include "reference_grid.h"

#include <algorithm>
#include <utility>

#include "filters/grid_geometry.h"
#include "filters/trilinear_weights.h"

namespace vantorel {

namespace {

size_t CellIndex(const BilateralGrid& grid, int32_t x, int32_t y, int32_t z) {
  return (static_cast<size_t>(x) * grid.y_size + y) * grid.z_size + z;
}

}  // namespace

BilateralGrid MakeEmptyGrid(int32_t width, int32_t height, double edge_span, double sigma_s,
                            double sigma_r) {
  BilateralGrid grid;
  // The extents are unsigned 32-bit quantities converted to double.
  grid.x_size = CellsAlong(static_cast<double>(static_cast<uint32_t>(width - 1)), sigma_s);
  grid.y_size = CellsAlong(static_cast<double>(static_cast<uint32_t>(height - 1)), sigma_s);
  grid.z_size = CellsAlong(edge_span, sigma_r);
  grid.storage.assign(static_cast<size_t>(grid.x_size) * grid.y_size * grid.z_size, GridCell{});
  return grid;
}

namespace {

void Fill(BilateralGrid& grid, const WorkMatrix& input, const WorkMatrix& edge, double emin,
          double sigma_s, double sigma_r) {
  for (int32_t x = 0; x < input.x_size; ++x) {
    for (int32_t y = 0; y < input.y_size; ++y) {
      const int32_t gx = NearestCell(static_cast<uint32_t>(x) / sigma_s);
      const int32_t gy = NearestCell(static_cast<uint32_t>(y) / sigma_s);
      const int32_t gz = NearestCell((edge(x, y) - emin) / sigma_r);
      GridCell& cell = grid.storage[CellIndex(grid, gx, gy, gz)];
      cell.value += input(x, y);
      cell.weight += 1.0;
    }
  }
}

// One [1 2 1] / 4 pass along the axis with the given stride, from `buffer` into `grid`.
// The outer layer is never written, so it stays (0, 0) and acts as the zeros beyond the grid.
void BlurPass(BilateralGrid& grid, const BilateralGrid& buffer, size_t stride) {
  for (int32_t x = 1; x <= grid.x_size - 2; ++x) {
    for (int32_t y = 1; y <= grid.y_size - 2; ++y) {
      for (int32_t z = 1; z <= grid.z_size - 2; ++z) {
        const size_t p = CellIndex(grid, x, y, z);
        const GridCell& before = buffer.storage[p - stride];
        const GridCell& centre = buffer.storage[p];
        const GridCell& after = buffer.storage[p + stride];
        grid.storage[p].value = ((before.value + after.value) + 2.0 * centre.value) * 0.25;
        grid.storage[p].weight = ((before.weight + after.weight) + 2.0 * centre.weight) * 0.25;
      }
    }
  }
}

// Two passes per axis, in the order x, x, y, y, z, z: [1 4 6 4 1] / 16 along each axis.
void Blur(BilateralGrid& grid) {
  BilateralGrid buffer;
  buffer.x_size = grid.x_size;
  buffer.y_size = grid.y_size;
  buffer.z_size = grid.z_size;
  buffer.storage.assign(grid.storage.size(), GridCell{});
  const size_t strides[3] = {static_cast<size_t>(grid.y_size) * grid.z_size,
                             static_cast<size_t>(grid.z_size), 1};
  for (const size_t stride : strides) {
    for (int pass = 0; pass < 2; ++pass) {
      // The sizes are equal, so exchanging the storage exchanges the grids.
      std::swap(grid.storage, buffer.storage);
      BlurPass(grid, buffer, stride);
    }
  }
}

void Normalise(BilateralGrid& grid) {
  for (GridCell& cell : grid.storage) {
    // A NaN weight counts as non-zero, like any other value that is not exactly 0.
    const double d = cell.weight != 0.0 ? cell.weight : 1.0;
    cell.value = cell.value / d;
    cell.weight = cell.weight / d;
  }
}

}  // namespace

void BlurAndNormalise(BilateralGrid& grid) {
  Blur(grid);
  Normalise(grid);
}

namespace {

void ReadBack(const BilateralGrid& grid, const WorkMatrix& edge, double emin, double sigma_s,
              double sigma_r, int32_t width, int32_t height, WorkMatrix& result) {
  result.Resize(width, height);
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      const double fx = static_cast<uint32_t>(x) / sigma_s + 2.0;
      const double fy = static_cast<uint32_t>(y) / sigma_s + 2.0;
      const double fz = (edge(x, y) - emin) / sigma_r + 2.0;
      result(x, y) = TrilinearSample(grid, fx, fy, fz).value;
    }
  }
}

}  // namespace

GridCell TrilinearSample(const BilateralGrid& grid, double fx, double fy, double fz) {
  const uint32_t x0 = LowerCorner(fx, grid.x_size);
  const uint32_t y0 = LowerCorner(fy, grid.y_size);
  const uint32_t z0 = LowerCorner(fz, grid.z_size);
  const uint32_t x1 = std::min(x0 + 1, static_cast<uint32_t>(grid.x_size - 1));
  const uint32_t y1 = std::min(y0 + 1, static_cast<uint32_t>(grid.y_size - 1));
  const uint32_t z1 = std::min(z0 + 1, static_cast<uint32_t>(grid.z_size - 1));

  // The fractions are differences in double, then rounded to float: the weights are the
  // one single-precision part of the filter.
  const float dx = static_cast<float>(fx - x0);
  const float dy = static_cast<float>(fy - y0);
  const float dz = static_cast<float>(fz - z0);

  float w[8];
  TrilinearWeights(dx, dy, dz, w);
  const float w000 = w[0], w100 = w[1], w010 = w[2], w110 = w[3];
  const float w001 = w[4], w101 = w[5], w011 = w[6], w111 = w[7];

  const GridCell& c000 = grid.storage[CellIndex(grid, x0, y0, z0)];
  const GridCell& c100 = grid.storage[CellIndex(grid, x1, y0, z0)];
  const GridCell& c010 = grid.storage[CellIndex(grid, x0, y1, z0)];
  const GridCell& c110 = grid.storage[CellIndex(grid, x1, y1, z0)];
  const GridCell& c001 = grid.storage[CellIndex(grid, x0, y0, z1)];
  const GridCell& c101 = grid.storage[CellIndex(grid, x1, y0, z1)];
  const GridCell& c011 = grid.storage[CellIndex(grid, x0, y1, z1)];
  const GridCell& c111 = grid.storage[CellIndex(grid, x1, y1, z1)];

  GridCell sample;
  sample.value = double(w000) * c000.value + double(w100) * c100.value + double(w010) * c010.value +
                 double(w110) * c110.value + double(w001) * c001.value + double(w101) * c101.value +
                 double(w011) * c011.value + double(w111) * c111.value;
  sample.weight = double(w000) * c000.weight + double(w100) * c100.weight +
                  double(w010) * c010.weight + double(w110) * c110.weight +
                  double(w001) * c001.weight + double(w101) * c101.weight +
                  double(w011) * c011.weight + double(w111) * c111.weight;
  return sample;
}

BilateralGrid BuildBlurredGrid(const WorkMatrix& input, const WorkMatrix& edge, double sigma_s,
                               double sigma_r, double& emin) {
  emin = *std::min_element(edge.storage.begin(), edge.storage.end());
  const double emax = *std::max_element(edge.storage.begin(), edge.storage.end());
  BilateralGrid grid = MakeEmptyGrid(input.x_size, input.y_size, emax - emin, sigma_s, sigma_r);
  Fill(grid, input, edge, emin, sigma_s, sigma_r);
  BlurAndNormalise(grid);
  return grid;
}

void BilateralGridReferenceCPU(const WorkMatrix& input, const WorkMatrix& edge, double sigma_s,
                               double sigma_r, WorkMatrix& result) {
  const int32_t width = input.x_size;
  const int32_t height = input.y_size;
  double emin = 0.0;
  const BilateralGrid grid = BuildBlurredGrid(input, edge, sigma_s, sigma_r, emin);
  ReadBack(grid, edge, emin, sigma_s, sigma_r, width, height, result);
}

}  // namespace vantorel
