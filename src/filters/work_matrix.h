// The filters' double-precision work matrix: an image held transposed.
#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

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

// Copies channel k of an n-channel CV_32F image (n = 1 or 3, interleaved) into `matrix`,
// which already has the image's sizes. The row step is not consulted: the image data is
// read as one packed block.
void LoadChannel(const cv::Mat& image, int k, int n, WorkMatrix& matrix);

// The reverse of LoadChannel: element (c, r) becomes channel k of pixel (r, c), rounded
// to float. The image already has its final size and type.
void StoreChannel(const WorkMatrix& matrix, cv::Mat& image, int k, int n);

}  // namespace vantorel
