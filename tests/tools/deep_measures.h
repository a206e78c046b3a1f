// The measures of a 16-bit result against the 8-bit one, shared by the command-line tests
// (through test_image) and the benchmark: a 16-bit picture with a smooth sky made from a
// photo, the distinct values of the sky, and the differences of the results.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>

#include <opencv2/core.hpp>

namespace vantorel::deep_measures {

// The rows of the sky that SmoothSky makes: the top fifth of the picture.
inline int SkyRows(int rows) { return std::max(1, rows / 5); }

// `photo` (CV_8UC3) widened to 16 bits (x 257), its top fifth replaced by a smooth sky: a
// vertical gradient from the photo's top-left colour to six 8-bit levels brighter, half a
// level of horizontal gradient, and noise below one 8-bit level (0 .. 255 16-bit levels).
inline cv::Mat SmoothSky(const cv::Mat& photo, uint64_t seed = 20) {
  cv::Mat deep;
  photo.convertTo(deep, CV_16UC3, 257.0);
  const int sky = SkyRows(deep.rows);
  const cv::Vec3w top = deep.at<cv::Vec3w>(0, 0);
  cv::RNG rng(seed);
  for (int y = 0; y < sky; ++y) {
    for (int x = 0; x < deep.cols; ++x) {
      for (int k = 0; k < 3; ++k) {
        const double value = top[k] * 0.8 + 6.0 * 257.0 * y / sky + 128.0 * x / deep.cols + rng.uniform(0, 256);
        deep.at<cv::Vec3w>(y, x)[k] = cv::saturate_cast<uint16_t>(value);
      }
    }
  }
  return deep;
}

// 16 bits to 8: v / 257 rounded to the nearest, as the tool writes a 16-bit result in 8 bits.
inline cv::Mat Reduced(const cv::Mat& deep) {
  cv::Mat bytes;
  deep.convertTo(bytes, CV_8U, 1.0 / 257.0);
  return bytes;
}

// The distinct sample values in the sky of a result (8 or 16 bits, three channels), counted
// channel by channel and added up, leaving out a tenth of the sky next to its lower edge,
// where the landscape's edge is smoothed in.
inline size_t DistinctSkyValues(const cv::Mat& result) {
  const int sky = SkyRows(result.rows);
  const int last = std::max(1, sky - sky / 10);
  std::set<int> values[3];
  for (int y = 0; y < last; ++y) {
    for (int x = 0; x < result.cols; ++x) {
      for (int k = 0; k < 3; ++k) {
        values[k].insert(result.depth() == CV_16U ? result.at<cv::Vec3w>(y, x)[k] : result.at<cv::Vec3b>(y, x)[k]);
      }
    }
  }
  return values[0].size() + values[1].size() + values[2].size();
}

struct Differences {
  double mean = 0.0;  // over every sample, in 8-bit levels
  int largest = 0;
  int x = 0, y = 0, channel = 0;  // where the largest is (its first place)
};

// Two 8-bit three-channel pictures of one size.
inline Differences DifferencesOf(const cv::Mat& a, const cv::Mat& b) {
  Differences d;
  double sum = 0.0;
  for (int y = 0; y < a.rows; ++y) {
    for (int x = 0; x < a.cols; ++x) {
      for (int k = 0; k < 3; ++k) {
        const int difference = std::abs(a.at<cv::Vec3b>(y, x)[k] - b.at<cv::Vec3b>(y, x)[k]);
        sum += difference;
        if (difference > d.largest) d = Differences{0.0, difference, x, y, k};
      }
    }
  }
  d.mean = sum / (3.0 * static_cast<double>(a.total()));
  return d;
}

}  // namespace vantorel::deep_measures
