// Exposure from the log-average luminance, Reinhard-style compression renormalised to the
// brightest level present, and a stretch between black and white points taken at the
// 0.5 % tails of the luminance histogram.
#include "imagedehaze/tone_curve.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include <mutex>

#include "filters/parallel_for.h"

namespace vantorel {

namespace {

// The logarithm and the running sum are double; the sum is rounded back to float after
// every pixel. The logarithms of a block are independent and computed in parallel; the
// sum then runs over them in pixel order, so the result does not depend on the threads.
float LogAverage(const float* luminance, std::size_t count) {
  std::vector<double> logs(std::min(count, kLogBlock));
  float sum = 0.0f;
  for (std::size_t start = 0; start < count; start += kLogBlock) {
    const std::size_t block = std::min(kLogBlock, count - start);
    ParallelForRange(block, kPixelsPerTask, [&](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) {
        logs[i] = std::log(static_cast<double>(luminance[start + i]) + 0.0001);
      }
    });
    for (std::size_t i = 0; i < block; ++i) sum = static_cast<float>(logs[i] + static_cast<double>(sum));
  }
  return expf(sum / static_cast<float>(count));
}

// Starts at 0, so the result is never negative; a NaN never replaces it.
float LargestValue(const float* values, std::size_t count) {
  float largest = 0.0f;
  for (std::size_t i = 0; i < count; ++i) {
    if (values[i] > largest) largest = values[i];
  }
  return largest;
}

// Luminance above 1 is outside the contract; it must still not fill past the table.
int TopLevel(float largest) {
  const float ceiling = ceilf(largest * 255.0f);
  return ceiling < 255.0f ? static_cast<int>(ceiling) : kToneLevels - 1;
}

// Upper limit first, so that a NaN (only possible from input outside [0, 1]) ends as 3.
float ExposureScale(float log_average) {
  float g = 0.36f / log_average;
  g = g < 3.0f ? g : 3.0f;
  g = g > 0.33333334f ? g : 0.33333334f;
  return g;
}

void FillBaseCurve(float exposure, int top, float* table) {
  const float step = exposure / 255.0f;
  for (int j = 0; j <= top; ++j) table[j] = static_cast<float>(j) * step;
}

// x / (1 + x), scaled so that the entry at top becomes 1. Needs table[top] > 0.
void CompressCurve(int top, float* table) {
  const float renormalise = (table[top] + 1.0f) / table[top];
  for (int j = 0; j <= top; ++j) table[j] = (table[j] / (table[j] + 1.0f)) * renormalise;
}

// One past the first level at which the count from level 0 up reaches the tail size.
// The histogram sums to the pixel count, far above the tail, so the bound on lo only
// guards against a histogram that does not.
int BlackLevel(const int* histogram, float tail) {
  float cum = 0.0f;
  int lo = 0;
  while (tail > cum && lo < kToneLevels) {
    cum += static_cast<float>(histogram[lo]);
    lo += 1;
  }
  return lo;
}

// One below the first level at which the count from level 255 down reaches the tail size.
int WhiteLevel(const int* histogram, float tail) {
  float cum = 0.0f;
  int hi = kToneLevels - 1;
  while (tail > cum && hi >= 0) {
    cum += static_cast<float>(histogram[hi]);
    hi -= 1;
  }
  return hi;
}

// Upper bound first, then the lower one: a NaN ends as 1.
void StretchCurve(float black, float white, int top, float* table) {
  const float d = white - black;
  for (int j = 0; j <= top; ++j) {
    float x = (table[j] - black) / d;
    x = x < 1.0f ? x : 1.0f;
    x = x > 0.0f ? x : 0.0f;
    table[j] = x;
  }
}

}  // namespace

// Counted in parallel parts whose counts are then added: integer sums, so the split
// changes nothing.
void ComputeHistogram(const float* values, std::size_t count, int* hist, int bins) {
  if (bins <= 0) return;
  std::fill(hist, hist + bins, 0);
  std::mutex lock;
  ParallelForRange(count, kPixelsPerTask * 4, [&](std::size_t begin, std::size_t end) {
    std::vector<int> part(bins, 0);
    for (std::size_t i = begin; i < end; ++i) ++part[ToneLevel(values[i], bins - 1)];
    std::lock_guard<std::mutex> hold(lock);
    for (int b = 0; b < bins; ++b) hist[b] += part[b];
  });
}

void FadeTowardIdentity(float strength, ToneCurve& curve) {
  if (!curve.stretchable) return;
  const float rest = 1.0f - strength;
  for (int j = 0; j <= curve.top; ++j) {
    const float identity = static_cast<float>(j) / 255.0f;
    curve.table[j] = strength * curve.table[j] + rest * identity;
  }
}

ToneCurve ComputeToneCurve(const cv::Mat& luminance) {
  const float* values = luminance.ptr<float>();
  const std::size_t count = luminance.total();
  ToneCurve curve;
  curve.log_average = LogAverage(values, count);
  curve.top = TopLevel(LargestValue(values, count));
  int histogram[kToneLevels];
  ComputeHistogram(values, count, histogram, kToneLevels);
  BuildToneTable(histogram, luminance.cols, luminance.rows, curve);
  return curve;
}

void BuildToneTable(const int* histogram, int cols, int rows, ToneCurve& curve) {
  float* table = curve.table.data();
  curve.exposure = ExposureScale(curve.log_average);
  FillBaseCurve(curve.exposure, curve.top, table);
  // Zero luminance everywhere: the renormalisation would divide by zero.
  if (!(table[curve.top] > 0.0f)) return;
  CompressCurve(curve.top, table);

  const float tail = (static_cast<float>(cols) * 0.005f) * static_cast<float>(rows);
  // When more than 99.5 % of the pixels share the level top (or level 0), the tails end
  // one past it: hold both levels to the filled part of the table.
  curve.lo = std::min(BlackLevel(histogram, tail), curve.top);
  curve.hi = std::min(std::max(WhiteLevel(histogram, tail), 0), curve.top);

  curve.black = table[curve.lo] * 0.9f;
  curve.white = table[curve.hi] / 0.9f;
  if (table[curve.top] < curve.white) curve.white = table[curve.top];
  if (!(curve.white > curve.black)) return;
  StretchCurve(curve.black, curve.white, curve.top, table);
  curve.stretchable = true;
}

}  // namespace vantorel
