// Channel ranges: rows split over threads; within a row, blocks of `channels` vectors,
// in which each lane always holds the same channel, so one minimum and one maximum per
// vector of the block serve every channel at once.
#include "filters/edge_range.h"

#include <algorithm>
#include <mutex>

#include "filters/cpu_features.h"
#include "filters/parallel_for.h"

namespace vantorel {

namespace {

constexpr int kLanes = 32;  // bytes of one AVX2 vector: 8 floats, 16 words or 32 bytes
constexpr int kMaxChannels = 4;

template <typename T>
struct Lanes {
  typedef T Vector __attribute__((vector_size(kLanes)));
  static constexpr int kCount = kLanes / sizeof(T);
};

// Range of channel k over rows [y0, y1). The vector code is compiled for AVX2 and for
// the baseline; both give the same minimum and maximum.
template <typename T>
__attribute__((always_inline)) inline void RowsRange(const unsigned char* data, size_t step, int channels,
                                                     int k, int32_t width, int32_t y0, int32_t y1, T& lo,
                                                     T& hi) {
  using Vector = typename Lanes<T>::Vector;
  constexpr int kCount = Lanes<T>::kCount;
  const int32_t block = kCount * channels;  // samples of one block: whole pixels
  const T first = reinterpret_cast<const T*>(data + y0 * step)[k];
  Vector low[kMaxChannels], high[kMaxChannels];
  for (int v = 0; v < kMaxChannels; ++v) {
    for (int j = 0; j < kCount; ++j) low[v][j] = high[v][j] = first;
  }
  T l = first, h = first;
  const int32_t samples = width * channels;
  for (int32_t y = y0; y < y1; ++y) {
    const T* row = reinterpret_cast<const T*>(data + y * step);
    int32_t i = 0;
    for (; channels <= kMaxChannels && i + block <= samples; i += block) {
      for (int v = 0; v < channels; ++v) {
        Vector x;
        __builtin_memcpy(&x, row + i + v * kCount, sizeof x);
        low[v] = x < low[v] ? x : low[v];
        high[v] = x > high[v] ? x : high[v];
      }
    }
    for (i += k; i < samples; i += channels) {
      l = std::min(l, row[i]);
      h = std::max(h, row[i]);
    }
  }
  // Lane j of vector v of a block holds channel (v * kCount + j) % channels.
  for (int v = 0; v < std::min(channels, kMaxChannels); ++v) {
    for (int j = 0; j < kCount; ++j) {
      if ((v * kCount + j) % channels != k) continue;
      l = std::min(l, low[v][j]);
      h = std::max(h, high[v][j]);
    }
  }
  lo = l;
  hi = h;
}

void FloatRowsRange(const unsigned char* data, size_t step, int channels, int k, int32_t width,
                    int32_t y0, int32_t y1, float& lo, float& hi) {
  RunVectorised([&] { RowsRange<float>(data, step, channels, k, width, y0, y1, lo, hi); });
}

void ByteRowsRange(const unsigned char* data, size_t step, int channels, int k, int32_t width,
                   int32_t y0, int32_t y1, uint8_t& lo, uint8_t& hi) {
  RunVectorised([&] { RowsRange<uint8_t>(data, step, channels, k, width, y0, y1, lo, hi); });
}

void WordRowsRange(const unsigned char* data, size_t step, int channels, int k, int32_t width,
                   int32_t y0, int32_t y1, uint16_t& lo, uint16_t& hi) {
  RunVectorised([&] { RowsRange<uint16_t>(data, step, channels, k, width, y0, y1, lo, hi); });
}

// Rows per task: a few hundred thousand samples, so that small images stay on one thread.
template <typename T, typename Scan>
void ParallelRange(int32_t width, int32_t height, T& lo, T& hi, Scan scan) {
  const size_t grain = std::max<size_t>(1, (size_t{1} << 18) / std::max<int32_t>(width, 1));
  std::mutex lock;
  bool any = false;
  ParallelForRange(static_cast<size_t>(height), grain, [&](size_t y0, size_t y1) {
    T l, h;
    scan(static_cast<int32_t>(y0), static_cast<int32_t>(y1), l, h);
    std::lock_guard<std::mutex> hold(lock);
    lo = any ? std::min(lo, l) : l;
    hi = any ? std::max(hi, h) : h;
    any = true;
  });
}

}  // namespace

void FloatChannelRange(const unsigned char* data, size_t step, int channels, int k, int32_t width,
                       int32_t height, float& lo, float& hi) {
  ParallelRange(width, height, lo, hi, [&](int32_t y0, int32_t y1, float& l, float& h) {
    FloatRowsRange(data, step, channels, k, width, y0, y1, l, h);
  });
}

void ByteChannelRange(const unsigned char* data, size_t step, int channels, int k, int32_t width,
                      int32_t height, uint8_t& lo, uint8_t& hi) {
  ParallelRange(width, height, lo, hi, [&](int32_t y0, int32_t y1, uint8_t& l, uint8_t& h) {
    ByteRowsRange(data, step, channels, k, width, y0, y1, l, h);
  });
}

void WordChannelRange(const unsigned char* data, size_t step, int channels, int k, int32_t width,
                      int32_t height, uint16_t& lo, uint16_t& hi) {
  ParallelRange(width, height, lo, hi, [&](int32_t y0, int32_t y1, uint16_t& l, uint16_t& h) {
    WordRowsRange(data, step, channels, k, width, y0, y1, l, h);
  });
}

}  // namespace vantorel
