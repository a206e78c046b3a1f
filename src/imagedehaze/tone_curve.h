// The tone curve of the automatic adjustment, from the luminance's statistics, tabulated
// for the 256 levels 0 .. 255 (level j stands for the value j / 255).
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

#include "imagedehaze/frame_estimates.h"

namespace vantorel {

constexpr int kToneLevels = 256;

// The logarithms MeasureLuminance keeps for its ordered sum: two blocks of them, one being
// summed while the next is measured. A caller that measures frame after frame keeps them.
struct LuminanceLogs {
  std::vector<double> blocks[2];
};

struct ToneCurve {
  float log_average = 0.0f;  // gm: exp of the mean of log(L + 0.0001)
  float exposure = 0.0f;     // g: 0.36 / gm, limited to [1/3, 3]
  int top = 0;               // ceil(255 x largest luminance): the highest filled entry
  int lo = 0;                // black level, 0 .. top
  int hi = 0;                // white level, 0 .. top
  float black = 0.0f;        // compressed curve at lo, times 0.9
  float white = 0.0f;        // compressed curve at hi, over 0.9, at most its value at top
  // False when the luminance gives nothing to stretch between (all zero, or the white
  // point not above the black point): the picture's tone is then left as it is.
  bool stretchable = false;
  std::array<float, kToneLevels> table{};  // entries 0 .. top are meaningful
  float largest = 0.0f;      // the largest luminance, at least 0
  // For results deeper than 8 bits (DeepenToneCurve): the same curve evaluated at
  // deep_levels levels, deep_top and deep_table taking the place of top and table. Empty
  // for 8-bit results.
  int deep_levels = 0;
  int deep_top = 0;
  std::vector<float> deep_table;
};

// The level int(v * 255 + 0.5) of a value v in [0, 1] (single precision, truncated toward
// zero), limited to 0 .. last. For values in [0, 1] the limit changes nothing but the
// levels above `last`. Values outside [0, 1], the infinities and NaN (which goes to `last`,
// as in the value clamps) would otherwise index outside the tables, or overflow the
// conversion to int.
inline int ToneLevel(float value, int last) {
  const float scaled = value * 255.0f + 0.5f;
  if (!(scaled < static_cast<float>(last))) return last;
  return scaled > 0.0f ? static_cast<int>(scaled) : 0;
}

// The level int(v * (levels - 1) + 0.5) of a value, limited to 0 .. last, as ToneLevel does
// for 256 levels.
inline int DeepToneLevel(float value, float largest_level, int last) {
  const float scaled = value * largest_level + 0.5f;
  if (!(scaled < static_cast<float>(last))) return last;
  return scaled > 0.0f ? static_cast<int>(scaled) : 0;
}

// The luminance of a BGR pixel: weighted in single precision, red and green added first.
inline float LuminanceOf(const float* bgr) { return (bgr[2] * 0.299f + bgr[1] * 0.587f) + bgr[0] * 0.114f; }

// Builds the curve from the luminance of a non-empty continuous picture: a CV_32FC1
// luminance plane, or a CV_32FC3 BGR picture whose luminance is taken pixel by pixel
// (LuminanceOf) as it is measured. Measures it, then builds the final table
// (BuildToneTable). `estimates`, when not null, sees the log-average, the top level and
// the black and white points and may replace them.
// `logs`, when not null, is where the logarithms are kept (MeasureLuminance).
ToneCurve ComputeToneCurve(const cv::Mat& picture, FrameEstimates* estimates = nullptr,
                           LuminanceLogs* logs = nullptr);

// From the measured log_average and top and the luminance histogram (kToneLevels counts)
// of a rows x cols plane: exposure, compressed curve, black and white levels, and the
// stretched final table. Leaves `stretchable` false when there is nothing to stretch.
void BuildToneTable(const int* histogram, int cols, int rows, ToneCurve& curve,
                    FrameEstimates* estimates = nullptr);

// The natural look's table: every filled entry j (0 .. top) moves toward the identity j / 255,
// T[j] = strength * T[j] + (1 - strength) * j / 255, in single precision in that order. Only
// for a stretchable curve: a picture whose tone is left as it is stays so.
void FadeTowardIdentity(float strength, ToneCurve& curve);

// Evaluates a built curve at `levels` levels (65536 for 16-bit results, level j standing
// for j / (levels - 1)), so that a deep result gets no steps from the table: the same
// exposure, compression renormalised at the deep level of the largest luminance, and the
// same black and white levels (lo and hi at their deep places), faded like the 8-bit table
// when the look is natural (strength < 1). Only for a stretchable curve.
void DeepenToneCurve(int levels, bool natural, float strength, ToneCurve& curve);

// What the curve is built from, measured in one pass over the luminance.
struct LuminanceStatistics {
  float log_average = 0.0f;  // exp of the mean of log(L + 0.0001), summed in pixel order
  float largest = 0.0f;      // the largest value, at least 0; NaN is passed over
  // The levels int(v * 255 + 0.5) of values in [0, 1]; levels past either end (values
  // outside [0, 1]) count in the nearest end bin, NaN in the last.
  std::array<int, kToneLevels> histogram{};
};

// `values`: `count` luminance values, or with `channels` 3, `count` BGR pixels. `logs`, when
// not null, holds the logarithms (its buffers are kept when large enough).
LuminanceStatistics MeasureLuminance(const float* values, std::size_t count, int channels = 1,
                                     LuminanceLogs* logs = nullptr);

}  // namespace vantorel
