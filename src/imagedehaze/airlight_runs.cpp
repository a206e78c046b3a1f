// Eight pixels of 24 bytes are loaded as 16 + 8 (never past the last pixel), their
// dwords spread so that each 128-bit half holds four pixels, and a byte shuffle per
// channel widens that channel's four levels to 32 bits in each half.
#include "imagedehaze/airlight_runs.h"

#include <immintrin.h>

#include <cmath>
#include <cstring>

namespace vantorel {

namespace {

struct ByteChannels {
  __m256i level[3];  // B, G, R of eight pixels
};

__attribute__((target("avx2"), always_inline)) inline ByteChannels LoadEightPixels(const uint8_t* p) {
  const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i rest = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 16));
  const __m256i spread =
      _mm256_permutevar8x32_epi32(_mm256_set_m128i(rest, first), _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0));
  ByteChannels pixels;
  for (int c = 0; c < 3; ++c) {
    const char z = -1;  // a zero byte
    const __m128i half = _mm_setr_epi8(static_cast<char>(c), z, z, z, static_cast<char>(c + 3), z, z, z,
                                       static_cast<char>(c + 6), z, z, z, static_cast<char>(c + 9), z, z, z);
    pixels.level[c] = _mm256_shuffle_epi8(spread, _mm256_set_m128i(half, half));
  }
  return pixels;
}

__attribute__((target("avx2"), always_inline)) inline __m256i Smallest(const ByteChannels& pixels) {
  return _mm256_min_epi32(_mm256_min_epi32(pixels.level[0], pixels.level[1]), pixels.level[2]);
}

__attribute__((target("avx2"), always_inline)) inline __m256 ValueOf(__m256i level, __m256 scale) {
  return _mm256_mul_ps(_mm256_cvtepi32_ps(level), scale);
}

uint8_t SmallestLevel(const uint8_t* pixel) {
  const uint8_t m = pixel[0] < pixel[1] ? pixel[0] : pixel[1];
  return m < pixel[2] ? m : pixel[2];
}

}  // namespace

float ByteLevelScale(const float* values) {
  const float scale = values[1];
  if (!(std::isfinite(scale) && scale > 0.0f)) return 0.0f;
  for (int level = 0; level < 256; ++level) {
    const float product = static_cast<float>(level) * scale;
    if (std::memcmp(&product, &values[level], sizeof product) != 0) return 0.0f;
  }
  return scale;
}

__attribute__((target("avx2"))) void ByteMinimaAvx2(const uint8_t* pixels, int count, float scale, float* minima,
                                                     uint8_t tops[3]) {
  const __m256 scales = _mm256_set1_ps(scale);
  __m256i top[3];
  for (int c = 0; c < 3; ++c) top[c] = _mm256_set1_epi32(tops[c]);
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    const ByteChannels eight = LoadEightPixels(pixels + 3 * i);
    for (int c = 0; c < 3; ++c) top[c] = _mm256_max_epi32(top[c], eight.level[c]);
    _mm256_storeu_ps(minima + i, ValueOf(Smallest(eight), scales));
  }
  alignas(32) int32_t lanes[3][8];
  for (int c = 0; c < 3; ++c) _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[c]), top[c]);
  _mm256_zeroupper();
  for (int c = 0; c < 3; ++c) {
    for (const int32_t lane : lanes[c]) tops[c] = lane > tops[c] ? static_cast<uint8_t>(lane) : tops[c];
  }
  for (; i < count; ++i) {
    const uint8_t* pixel = pixels + 3 * i;
    minima[i] = static_cast<float>(SmallestLevel(pixel)) * scale;
    for (int c = 0; c < 3; ++c) tops[c] = pixel[c] > tops[c] ? pixel[c] : tops[c];
  }
}

__attribute__((target("avx2"))) int ByteBrightColoursAvx2(const uint8_t* pixels, int count, int bar, float scale,
                                                           float* const colours[3]) {
  const __m256 scales = _mm256_set1_ps(scale);
  const __m256i bars = _mm256_set1_epi32(bar);
  int members = 0;
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    const ByteChannels eight = LoadEightPixels(pixels + 3 * i);
    const __m256 keep = _mm256_castsi256_ps(_mm256_cmpgt_epi32(Smallest(eight), bars));
    for (int c = 0; c < 3; ++c) _mm256_storeu_ps(colours[c] + i, _mm256_and_ps(ValueOf(eight.level[c], scales), keep));
    members += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_ps(keep)));
  }
  _mm256_zeroupper();
  for (; i < count; ++i) {
    const uint8_t* pixel = pixels + 3 * i;
    const bool member = SmallestLevel(pixel) > bar;
    for (int c = 0; c < 3; ++c) colours[c][i] = member ? static_cast<float>(pixel[c]) * scale : 0.0f;
    members += member ? 1 : 0;
  }
  return members;
}

}  // namespace vantorel
