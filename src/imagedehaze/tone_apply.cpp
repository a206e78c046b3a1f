#include "imagedehaze/tone_apply.h"

#include <cstdint>
#include <cstring>

#include "filters/cpu_features.h"

namespace vantorel {

namespace {

typedef float EightFloats __attribute__((vector_size(32)));
typedef int32_t EightInts __attribute__((vector_size(32)));

// The levels of eight samples, lane by lane what DeepToneLevel gives for one: the same
// product and sum in single precision, the same tests. Only lanes strictly between 0 and
// `last` are converted; the others are given 0 first, so that every conversion is in range.
__attribute__((always_inline)) inline EightInts EightLevels(EightFloats values, float largest_level, int last) {
  const EightFloats scaled = values * (largest_level - EightFloats{}) + (0.5f - EightFloats{});
  const EightFloats zero = {};
  const EightInts below = scaled < (static_cast<float>(last) - EightFloats{});  // false for NaN
  const EightInts positive = scaled > zero;
  const EightFloats convertible = (below & positive) ? scaled : zero;
  const EightInts truncated = __builtin_convertvector(convertible, EightInts);
  return below ? truncated : (last - EightInts{});
}

// Every sample of a row replaced by its table entry: the levels eight at a time, then the
// lookups one by one; the leftover samples as DeepToneLevel has them.
__attribute__((always_inline)) inline void ToneRow(float* row, int samples, const float* table, float largest_level,
                                                   int last) {
  int i = 0;
  for (; i + 8 <= samples; i += 8) {
    EightFloats values;
    std::memcpy(&values, row + i, sizeof values);
    const EightInts levels = EightLevels(values, largest_level, last);
    for (int k = 0; k < 8; ++k) row[i + k] = table[levels[k]];
  }
  for (; i < samples; ++i) row[i] = table[DeepToneLevel(row[i], largest_level, last)];
}

}  // namespace

// An 8-bit curve's level is DeepToneLevel's with 255 as the largest level (ToneLevel).
void ApplyToneTable(const ToneCurve& curve, cv::Mat& image) {
  const int samples = image.cols * image.channels();
  const bool deep = !curve.deep_table.empty();
  const float* const table = deep ? curve.deep_table.data() : curve.table.data();
  const float largest_level = deep ? static_cast<float>(curve.deep_levels - 1) : 255.0f;
  const int last = deep ? curve.deep_top : curve.top;
  RunVectorised([&] {
    for (int y = 0; y < image.rows; ++y) ToneRow(image.ptr<float>(y), samples, table, largest_level, last);
  });
}

void MixInputChroma(const cv::Mat& input_ycrcb, cv::Mat& toned_ycrcb) {
  for (int y = 0; y < toned_ycrcb.rows; ++y) {
    const float* in = input_ycrcb.ptr<float>(y);
    float* out = toned_ycrcb.ptr<float>(y);
    for (int i = 0; i < toned_ycrcb.cols * 3; i += 3) {
      out[i + 1] = static_cast<float>(0.5 * static_cast<double>(in[i + 1]) + 0.5 * static_cast<double>(out[i + 1]));
      out[i + 2] = static_cast<float>(0.5 * static_cast<double>(in[i + 2]) + 0.5 * static_cast<double>(out[i + 2]));
    }
  }
}

void TakeInputChroma(const cv::Mat& input_ycrcb, cv::Mat& toned_ycrcb) {
  for (int y = 0; y < toned_ycrcb.rows; ++y) {
    const float* in = input_ycrcb.ptr<float>(y);
    float* out = toned_ycrcb.ptr<float>(y);
    for (int i = 0; i < toned_ycrcb.cols * 3; i += 3) {
      out[i + 1] = in[i + 1];
      out[i + 2] = in[i + 2];
    }
  }
}

}  // namespace vantorel
