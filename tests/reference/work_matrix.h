// The filters' double-precision work matrix: an image held transposed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantorel {

// Element (x, y) is storage[x * y_size + y]: x (the image column) is the slow index,
// so one image column is contiguous. Image pixel (row r, column c) is element (c, r).
struct WorkMatrix {
  int32_t x_size = 0;
  int32_t y_size = 0;
  std::vector<double> storage;

  WorkMatrix() = default;
  WorkMatrix(int32_t x, int32_t y, double fill)
      : x_size(x), y_size(y), storage(static_cast<size_t>(x) * static_cast<size_t>(y), fill) {}

  double& operator()(int32_t x, int32_t y) {
    return storage[static_cast<size_t>(x) * static_cast<size_t>(y_size) + static_cast<size_t>(y)];
  }
  double operator()(int32_t x, int32_t y) const {
    return storage[static_cast<size_t>(x) * static_cast<size_t>(y_size) + static_cast<size_t>(y)];
  }

  // Existing elements keep their values, new ones are 0.0.
  void Resize(int32_t x, int32_t y) {
    x_size = x;
    y_size = y;
    storage.resize(static_cast<size_t>(x) * static_cast<size_t>(y), 0.0);
  }
};

}  // namespace vantorel
