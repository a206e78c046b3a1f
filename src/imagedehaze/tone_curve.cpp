// Exposure from the log-average luminance, Reinhard-style compression renormalised to the
// brightest level present, and a stretch between black and white points taken at the
// 0.5 % tails of the luminance histogram.
#include "imagedehaze/tone_curve.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

#include "filters/parallel_for.h"
#include "filters/schedule.h"
#include "imagedehaze/in_order_sum.h"
#include "imagedehaze/luminance_run.h"

namespace vantorel {

namespace {

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

// Level j of a table of largest_level + 1 levels stands for j / largest_level.
void FillBaseCurve(float exposure, int top, float* table, float largest_level = 255.0f) {
  const float step = exposure / largest_level;
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

double LogOfLuminance(float v) { return std::log(static_cast<double>(v) + 0.0001); }

// Adds the logarithms of `count` values to `sum` in their order, rounding back to float after
// every one. The sum is kept in memory across each call of std::log (every vector register
// is the caller's to save), and that trip lies on the chain of additions: taking the
// logarithms two at a time before their two additions makes it once a pair. Two measured
// faster than one and no slower than four.
float AddLogs(const float* values, std::size_t count, float sum) {
  std::size_t i = 0;
  for (; i + 2 <= count; i += 2) {
    const double first = LogOfLuminance(values[i]);
    const double second = LogOfLuminance(values[i + 1]);
    sum = static_cast<float>(first + static_cast<double>(sum));
    sum = static_cast<float>(second + static_cast<double>(sum));
  }
  if (i < count) sum = static_cast<float>(LogOfLuminance(values[i]) + static_cast<double>(sum));
  return sum;
}

// The whole measure for one thread, a short run at a time: the run's levels and largest
// value four pixels at a time, then its logarithms added to the sum, which are most of the
// time. No logarithm is kept. The same values, added in the same order, as the parallel form.
LuminanceStatistics MeasureLuminanceInOneLoop(const float* values, std::size_t count, int channels) {
  LevelCounts counts;
  float largest = 0.0f;
  float sum = 0.0f;
  float luminance[kLuminanceRun];
  for (std::size_t start = 0; start < count; start += kLuminanceRun) {
    const std::size_t run = std::min(kLuminanceRun, count - start);
    const float* const run_luminance =
        MeasureLuminanceRun(values + start * channels, run, channels, luminance, counts, largest);
    sum = AddLogs(run_luminance, run, sum);
  }
  LuminanceStatistics statistics;
  counts.AddTo(statistics.histogram);
  statistics.largest = largest;
  statistics.log_average = expf(sum / static_cast<float>(count));
  return statistics;
}

}  // namespace

// The pixels go through in blocks. The parts of a block are measured in parallel: each
// part's logarithms (kept for the sum), largest value and level counts. Counts are
// integers and the largest value does not depend on the order it is looked for in, so
// the parts' results are merged in any order. The sum of the logarithms is double, rounded
// back to float after every pixel, so it runs in pixel order: block by block, as one more
// task beside the next block's parts, taken by whichever thread is free first. That task
// adds whole stretches of logarithms at once where it can (AddEachRoundedToFloat), about a
// tenth of the time of one addition after another. On one thread the loop above does not
// need it: there the additions' chain runs in the shadow of the logarithms.
LuminanceStatistics MeasureLuminance(const float* values, std::size_t count, int channels,
                                     LuminanceLogs* kept) {
  if (WorkerCount() == 1) return MeasureLuminanceInOneLoop(values, count, channels);
  LuminanceStatistics statistics;
  LuminanceLogs own;
  std::vector<double>* const logs = (kept != nullptr ? kept : &own)->blocks;
  logs[0].resize(std::min(count, kLogBlock));
  logs[1].resize(logs[0].size());
  float sum = 0.0f;
  std::mutex lock;
  const std::size_t blocks = (count + kLogBlock - 1) / kLogBlock;
  for (std::size_t b = 0; b <= blocks; ++b) {
    const std::size_t start = b * kLogBlock;
    const std::size_t block = b < blocks ? std::min(kLogBlock, count - start) : 0;
    const int parts = static_cast<int>((block + kPixelsPerTask - 1) / kPixelsPerTask);
    ParallelFor(1 + parts, [&](int task) {
      if (task == 0) {
        if (b == 0) return;
        const std::size_t previous_block = std::min(kLogBlock, count - (b - 1) * kLogBlock);
        sum = AddEachRoundedToFloat(logs[(b - 1) % 2].data(), previous_block, sum);
        return;
      }
      const std::size_t begin = block * (task - 1) / parts, end = block * task / parts;
      double* const block_logs = logs[b % 2].data();
      const float* const block_values = values + start * channels;
      LevelCounts counts;
      float largest = 0.0f;  // a NaN never replaces it
      float luminance[kLuminanceRun];
      for (std::size_t i = begin; i < end; i += kLuminanceRun) {
        const std::size_t run = std::min(kLuminanceRun, end - i);
        const float* const run_luminance =
            MeasureLuminanceRun(block_values + i * channels, run, channels, luminance, counts, largest);
        for (std::size_t k = 0; k < run; ++k) block_logs[i + k] = LogOfLuminance(run_luminance[k]);
      }
      std::lock_guard<std::mutex> hold(lock);
      if (largest > statistics.largest) statistics.largest = largest;
      counts.AddTo(statistics.histogram);
    });
  }
  statistics.log_average = expf(sum / static_cast<float>(count));
  return statistics;
}

void FadeTowardIdentity(float strength, ToneCurve& curve) {
  if (!curve.stretchable) return;
  const float rest = 1.0f - strength;
  for (int j = 0; j <= curve.top; ++j) {
    const float identity = static_cast<float>(j) / 255.0f;
    curve.table[j] = strength * curve.table[j] + rest * identity;
  }
}

void DeepenToneCurve(int levels, bool natural, float strength, ToneCurve& curve) {
  if (!curve.stretchable) return;
  const int last = levels - 1;
  const float largest_level = static_cast<float>(last);
  // The deep level that stands for 8-bit level j.
  const int per_byte = last / (kToneLevels - 1);
  const float ceiling = ceilf(curve.largest * largest_level);
  const int top = ceiling < largest_level ? static_cast<int>(ceiling) : last;
  std::vector<float> table(static_cast<size_t>(levels), 0.0f);
  FillBaseCurve(curve.exposure, top, table.data(), largest_level);
  if (!(table[top] > 0.0f)) return;
  CompressCurve(top, table.data());
  const float black = table[std::min(curve.lo * per_byte, top)] * 0.9f;
  float white = table[std::min(curve.hi * per_byte, top)] / 0.9f;
  if (table[top] < white) white = table[top];
  if (!(white > black)) return;
  StretchCurve(black, white, top, table.data());
  if (natural) {
    const float rest = 1.0f - strength;
    for (int j = 0; j <= top; ++j) {
      const float identity = static_cast<float>(j) / largest_level;
      table[j] = strength * table[j] + rest * identity;
    }
  }
  curve.deep_levels = levels;
  curve.deep_top = top;
  curve.deep_table = std::move(table);
}

ToneCurve ComputeToneCurve(const cv::Mat& picture, FrameEstimates* estimates, LuminanceLogs* logs) {
  CV_Assert((picture.type() == CV_32FC1 || picture.type() == CV_32FC3) && picture.isContinuous());
  const LuminanceStatistics statistics =
      MeasureLuminance(picture.ptr<float>(), picture.total(), picture.channels(), logs);
  ToneCurve curve;
  curve.log_average = statistics.log_average;
  curve.top = TopLevel(statistics.largest);
  curve.largest = statistics.largest;
  if (estimates != nullptr) estimates->ToneLevels(curve.log_average, curve.top);
  BuildToneTable(statistics.histogram.data(), picture.cols, picture.rows, curve, estimates);
  return curve;
}

void BuildToneTable(const int* histogram, int cols, int rows, ToneCurve& curve,
                    FrameEstimates* estimates) {
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
  if (estimates != nullptr) estimates->BlackAndWhite(curve.black, curve.white);
  if (!(curve.white > curve.black)) return;
  StretchCurve(curve.black, curve.white, curve.top, table);
  curve.stretchable = true;
}

}  // namespace vantorel
