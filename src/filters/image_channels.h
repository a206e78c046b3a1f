// Sources and sinks that let the streaming grid core read and write image channels where
// they lie, instead of through transposed work-matrix copies. Each converts exactly as the
// work-matrix copies do, so results are the same bit for bit.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include <opencv2/core.hpp>

#include "filters/edge_range.h"

namespace vantorel {

// Channel k of an n-channel float image, widened to double.
struct FloatChannel {
  static constexpr int kLevels = 0;  // any float
  const uchar* data;
  size_t step;
  int n, k;
  FloatChannel(const cv::Mat& image, int channels, int channel)
      : data(image.data), step(image.step[0]), n(channels), k(channel) {}
  const float* Pointer(int32_t x, int32_t y) const {
    return reinterpret_cast<const float*>(data + y * step) + x * n + k;
  }
  size_t Stride() const { return static_cast<size_t>(n); }
  // Bytes from one row's samples to the next row's.
  size_t RowBytes() const { return step; }
  double At(int32_t x, int32_t y) const { return static_cast<double>(*Pointer(x, y)); }
  void Range(int32_t width, int32_t height, double& lo, double& hi) const {
    float l = 0, h = 0;
    FloatChannelRange(data, step, n, k, width, height, l, h);
    lo = l;
    hi = h;
  }
};

// Every level of an unsigned sample type on the 0-to-1 scale: the level divided by the
// type's largest (255 for bytes, 65535 for 16 bits) in double.
template <typename T>
const double* LevelScale() {
  static const std::vector<double> scale = [] {
    constexpr int kLargest = std::numeric_limits<T>::max();
    std::vector<double> s(static_cast<size_t>(kLargest) + 1);
    for (int level = 0; level <= kLargest; ++level) s[level] = static_cast<double>(level) / static_cast<double>(kLargest);
    return s;
  }();
  return scale.data();
}

// Channel k of a three-channel image of unsigned samples (bytes or 16 bits) on the 0-to-1
// scale, looked up rather than divided.
template <typename T>
struct LevelChannel {
  static constexpr int kLevels = std::numeric_limits<T>::max() + 1;
  const uchar* data;
  size_t step;
  int k;
  const double* scale;
  LevelChannel(const cv::Mat& image, int channel)
      : data(image.data), step(image.step[0]), k(channel), scale(LevelScale<T>()) {}
  const T* Pointer(int32_t x, int32_t y) const { return reinterpret_cast<const T*>(data + y * step) + x * 3 + k; }
  size_t Stride() const { return 3; }
  // Bytes from one row's samples to the next row's.
  size_t RowBytes() const { return step; }
  bool SameAs(const LevelChannel& other) const { return data == other.data && step == other.step && k == other.k; }
  int Level(int32_t x, int32_t y) const { return *Pointer(x, y); }
  double OfLevel(int level) const { return scale[level]; }
  double At(int32_t x, int32_t y) const { return OfLevel(Level(x, y)); }
  void Range(int32_t width, int32_t height, double& lo, double& hi) const {
    T l = 0, h = 0;
    if constexpr (sizeof(T) == 1) {
      ByteChannelRange(data, step, 3, k, width, height, l, h);
    } else {
      WordChannelRange(data, step, 3, k, width, height, l, h);
    }
    lo = OfLevel(l);
    hi = OfLevel(h);
  }
};
using ByteChannel = LevelChannel<uint8_t>;
using WordChannel = LevelChannel<uint16_t>;

// Values from one channel, edges from another (or the same). Byte channels give their
// edges as levels too (see z_places.h).
template <typename Channel>
struct ChannelSource {
  static constexpr int kEdgeLevels = Channel::kLevels;
  Channel values;
  Channel edges;
  int32_t width, height;
  double Value(int32_t x, int32_t y) const { return values.At(x, y); }
  double Edge(int32_t x, int32_t y) const { return edges.At(x, y); }
  int EdgeLevel(int32_t x, int32_t y) const { return edges.Level(x, y); }
  double EdgeOfLevel(int level) const { return edges.OfLevel(level); }
  // Where the values and the edges of row y start at column x, and how many samples apart
  // they lie.
  auto ValuePointer(int32_t x, int32_t y) const { return values.Pointer(x, y); }
  size_t ValueStride() const { return values.Stride(); }
  auto EdgePointer(int32_t x, int32_t y) const { return edges.Pointer(x, y); }
  size_t EdgeStride() const { return edges.Stride(); }
  // Bytes between rows of values and of edges.
  size_t ValueRowBytes() const { return values.RowBytes(); }
  size_t EdgeRowBytes() const { return edges.RowBytes(); }
  // Sources with levels only: whether the values are the edges themselves (a channel
  // smoothed by its own edges), so that one read serves both.
  bool ValuesAreEdges() const { return values.SameAs(edges); }
  // Widening to double keeps the order, so the extremes of the stored samples give the
  // extremes of the edges; levels map to edges in increasing order likewise.
  void EdgeRange(double& emin, double& emax) const { edges.Range(width, height, emin, emax); }
};

// Where the filter writes channel k of an n-channel image of T (float, bytes or 16 bits).
// Float results are rounded to float; level results are written as v * largest + 0.5
// truncated, halves up (LevelsOut). The filter's results stay within the range of its
// inputs, so that sum lies in [0.5, largest + 0.5] up to the rounding of the interpolation
// weights; a cap at the largest level guards that last fraction.
template <typename T>
struct ChannelSink {
  uchar* data;
  size_t step;
  int n, k;
  ChannelSink(cv::Mat& image, int channels, int channel)
      : data(image.data), step(image.step[0]), n(channels), k(channel) {}
  T* Pointer(int32_t x, int32_t y) const { return reinterpret_cast<T*>(data + y * step) + x * n + k; }
  size_t Stride() const { return static_cast<size_t>(n); }
};
using FloatChannelSink = ChannelSink<float>;
using ByteChannelSink = ChannelSink<uint8_t>;
using WordChannelSink = ChannelSink<uint16_t>;

// True when two matrices' pixel memory overlaps.
inline bool SharesMemory(const cv::Mat& a, const cv::Mat& b) {
  return a.data != nullptr && b.data != nullptr && a.datastart < b.dataend && b.datastart < a.dataend;
}

}  // namespace vantorel
