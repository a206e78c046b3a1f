// Copying image channels into and out of the transposed double-precision work matrix.
// The copies walk the image in square tiles so that both the image rows and the matrix
// columns of a tile stay in cache while it is transposed.
#include "work_matrix_copies.h"

#include <algorithm>

namespace vantorel {

namespace {

constexpr int32_t kTile = 64;

// Calls visit(column, row) for every element, tile by tile, columns outer within a tile.
template <typename Visit>
void ForEachTransposed(int32_t x_size, int32_t y_size, Visit visit) {
  for (int32_t r0 = 0; r0 < y_size; r0 += kTile) {
    const int32_t r1 = std::min(r0 + kTile, y_size);
    for (int32_t c0 = 0; c0 < x_size; c0 += kTile) {
      const int32_t c1 = std::min(c0 + kTile, x_size);
      for (int32_t c = c0; c < c1; ++c) {
        for (int32_t r = r0; r < r1; ++r) visit(c, r);
      }
    }
  }
}

}  // namespace

// Rows are addressed through the image's own row step, which for the packed images the
// pipeline passes is the same as reading one continuous block.
void LoadChannel(const cv::Mat& image, int k, int n, WorkMatrix& matrix) {
  ForEachTransposed(matrix.x_size, matrix.y_size, [&](int32_t c, int32_t r) {
    matrix(c, r) = static_cast<double>(image.ptr<float>(r)[static_cast<size_t>(c) * n + k]);
  });
}

void StoreChannel(const WorkMatrix& matrix, cv::Mat& image, int k, int n) {
  ForEachTransposed(matrix.x_size, matrix.y_size, [&](int32_t c, int32_t r) {
    image.ptr<float>(r)[static_cast<size_t>(c) * n + k] = static_cast<float>(matrix(c, r));
  });
}

}  // namespace vantorel
