// Four pixels at a time in SSE2 (every x86-64 processor has it): the same single-precision
// operations, in the same order, as LuminanceOf and ToneLevel on one pixel.
#include "imagedehaze/luminance_run.h"

#include <immintrin.h>

#include <cstdint>

namespace vantorel {

namespace {

// LuminanceOf of the four BGR pixels whose twelve values start at p.
__m128 LuminanceOfFour(const float* p) {
  const __m128 a = _mm_loadu_ps(p);      // b0 g0 r0 b1
  const __m128 b = _mm_loadu_ps(p + 4);  // g1 r1 b2 g2
  const __m128 c = _mm_loadu_ps(p + 8);  // r2 b3 g3 r3
  const __m128 blue = _mm_shuffle_ps(a, _mm_shuffle_ps(b, c, _MM_SHUFFLE(1, 1, 2, 2)), _MM_SHUFFLE(2, 0, 3, 0));
  const __m128 green = _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 1, 1)),
                                      _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 2, 3, 3)), _MM_SHUFFLE(2, 0, 2, 0));
  const __m128 red = _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 1, 2, 2)),
                                    _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 3, 0, 0)), _MM_SHUFFLE(2, 0, 2, 0));
  return _mm_add_ps(_mm_add_ps(_mm_mul_ps(red, _mm_set1_ps(0.299f)), _mm_mul_ps(green, _mm_set1_ps(0.587f))),
                    _mm_mul_ps(blue, _mm_set1_ps(0.114f)));
}

// ToneLevel(v, 255) of four values. minps answers its second operand when the first is
// NaN, so NaN and everything from 255 up go to 255 as there; what is left is then either
// above 0 and truncated, or 0.
__m128i ToneLevelOfFour(__m128 v) {
  const __m128 scaled = _mm_add_ps(_mm_mul_ps(v, _mm_set1_ps(255.0f)), _mm_set1_ps(0.5f));
  const __m128 limited = _mm_max_ps(_mm_min_ps(scaled, _mm_set1_ps(255.0f)), _mm_setzero_ps());
  return _mm_cvttps_epi32(limited);
}

}  // namespace

void LevelCounts::AddTo(std::array<int, kToneLevels>& histogram) const {
  for (int level = 0; level < kToneLevels; ++level) {
    histogram[level] += tables[0][level] + tables[1][level] + tables[2][level] + tables[3][level];
  }
}

const float* MeasureLuminanceRun(const float* values, std::size_t count, int channels, float* luminance,
                                 LevelCounts& counts, float& largest) {
  static_assert(kToneLevels == 256, "ToneLevelOfFour limits the levels to 255");
  // maxps answers its second operand when the first is NaN: a NaN never replaces the
  // largest value, as in the one-pixel comparison below.
  __m128 largest_four = _mm_set1_ps(largest);
  alignas(16) std::int32_t levels[4];
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    __m128 v;
    if (channels == 3) {
      v = LuminanceOfFour(values + 3 * i);
      _mm_storeu_ps(luminance + i, v);
    } else {
      v = _mm_loadu_ps(values + i);
    }
    largest_four = _mm_max_ps(v, largest_four);
    _mm_store_si128(reinterpret_cast<__m128i*>(levels), ToneLevelOfFour(v));
    ++counts.tables[0][levels[0]];
    ++counts.tables[1][levels[1]];
    ++counts.tables[2][levels[2]];
    ++counts.tables[3][levels[3]];
  }
  for (; i < count; ++i) {
    const float v = channels == 3 ? LuminanceOf(values + 3 * i) : values[i];
    if (channels == 3) luminance[i] = v;
    if (v > largest) largest = v;
    ++counts.tables[0][ToneLevel(v, kToneLevels - 1)];
  }
  // Every lane holds a value compared as `largest` was, none of them NaN: the largest of
  // them does not depend on the order they are looked at in.
  alignas(16) float lanes[4];
  _mm_store_ps(lanes, largest_four);
  for (const float lane : lanes) {
    if (lane > largest) largest = lane;
  }
  return channels == 3 ? luminance : values;
}

}  // namespace vantorel
