// Pictures and comparisons shared by the filter tests.
#pragma once

#include <cstdint>
#include <cstring>

#include <opencv2/core.hpp>

namespace vantorel {

// Uniform noise: bytes 0 .. 255 for 8-bit types, [0, 1) for float types.
inline cv::Mat RandomImage(int rows, int cols, int type, uint64_t seed) {
  cv::Mat image(rows, cols, type);
  cv::RNG rng(seed);
  if (CV_MAT_DEPTH(type) == CV_8U) {
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
  } else {
    rng.fill(image, cv::RNG::UNIFORM, 0.0, 1.0);
  }
  return image;
}

// The tone adjustment's worked example: one row of 200 values running evenly from 0 to 1.
inline cv::Mat Ramp200() {
  cv::Mat ramp(1, 200, CV_32FC1);
  for (int i = 0; i < 200; ++i) ramp.at<float>(0, i) = static_cast<float>(i) / 199.0f;
  return ramp;
}

// Same size, type and pixel bytes (both matrices continuous).
inline bool SameBytes(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && a.isContinuous() && b.isContinuous() &&
         std::memcmp(a.data, b.data, a.total() * a.elemSize()) == 0;
}

}  // namespace vantorel
