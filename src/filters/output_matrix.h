// Shaping a filter's output matrix.
#pragma once

#include <array>
#include <cstring>

#include <opencv2/core.hpp>

namespace vantorel {

// Makes `output` a rows x cols matrix of `type`. One that already is that, with a buffer,
// keeps it, so callers may hand in a prepared matrix (or the source itself) to be overwritten.
inline void PrepareOutput(cv::Mat& output, int rows, int cols, int type) {
  const bool matches = output.dims <= 2 && output.rows == rows && output.cols == cols &&
                       output.type() == type && output.data != nullptr;
  if (!matches) output.create(2, std::array<int, 2>{rows, cols}.data(), type);
}

// Copies rows [first, end) of float results, `plane.cols` a row, row after row, into the
// same rows of the CV_32FC1 `plane`: how a band handed over by a filter lands in a plane.
inline void StoreRows(cv::Mat& plane, int first, int end, const float* values) {
  const size_t row_bytes = sizeof(float) * static_cast<size_t>(plane.cols);
  for (int r = first; r < end; ++r) {
    std::memcpy(plane.ptr<float>(r), values + static_cast<size_t>(r - first) * plane.cols, row_bytes);
  }
}

}  // namespace vantorel
