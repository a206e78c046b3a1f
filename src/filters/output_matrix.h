// Shaping a filter's output matrix.
#pragma once

#include <array>

#include <opencv2/core.hpp>

namespace vantorel {

// Makes `output` a rows x cols matrix of `type`. One that already is that, with a buffer,
// keeps it, so callers may hand in a prepared matrix (or the source itself) to be overwritten.
inline void PrepareOutput(cv::Mat& output, int rows, int cols, int type) {
  const bool matches = output.dims <= 2 && output.rows == rows && output.cols == cols &&
                       output.type() == type && output.data != nullptr;
  if (!matches) output.create(2, std::array<int, 2>{rows, cols}.data(), type);
}

}  // namespace vantorel
