#include "imagedehaze/luma_histogram.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace vantorel {

LumaHistogram MeasureLumaHistogram(const unsigned char* bgr, int cols, int rows) {
  std::array<uint64_t, kLumaBins> counts{};
  const size_t pixels = static_cast<size_t>(cols) * static_cast<size_t>(rows);
  for (size_t i = 0; i < pixels; ++i) {
    const unsigned char* p = bgr + 3 * i;
    const unsigned luma = (77u * p[2] + 150u * p[1] + 29u * p[0]) >> 8;
    ++counts[luma >> 4];
  }
  LumaHistogram shares;
  for (int b = 0; b < kLumaBins; ++b) shares[b] = static_cast<double>(counts[b]) / static_cast<double>(pixels);
  return shares;
}

double HistogramDistance(const LumaHistogram& a, const LumaHistogram& b) {
  double sum = 0.0;
  for (int i = 0; i < kLumaBins; ++i) sum += std::fabs(a[i] - b[i]);
  return 0.5 * sum;
}

void FollowHistogram(const LumaHistogram& frame, double weight, LumaHistogram& running) {
  for (int i = 0; i < kLumaBins; ++i) running[i] += weight * (frame[i] - running[i]);
}

}  // namespace vantorel
