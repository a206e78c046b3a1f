// The parts of the luminance's statistics that do not depend on the order of the pixels
// (the level counts and the largest value), taken four pixels at a time over a short run,
// ahead of the logarithms that do.
#pragma once

#include <array>
#include <cstddef>

#include "imagedehaze/tone_curve.h"

namespace vantorel {

// Pixels in a run: its luminance (4 KB) stays in the first-level cache for the logarithms.
constexpr std::size_t kLuminanceRun = 1024;

// Level counts in four tables, pixel i of a group of four counting in table i: most pixels
// of a picture fall in a few levels, and one table would make each count wait for the
// previous one's store to the same place. The counts are integers, so their sum is exact.
struct LevelCounts {
  std::array<std::array<int, kToneLevels>, 4> tables{};
  // Adds the four tables' counts to `histogram`.
  void AddTo(std::array<int, kToneLevels>& histogram) const;
};

// For `count` (at most kLuminanceRun) values, or with `channels` 3 BGR pixels: counts the
// levels ToneLevel gives them in `counts` and raises `largest` to the largest of them (a
// NaN never does). Returns their luminance: `values` itself for one channel, else
// `luminance`, filled with LuminanceOf of each pixel.
const float* MeasureLuminanceRun(const float* values, std::size_t count, int channels, float* luminance,
                                 LevelCounts& counts, float& largest);

}  // namespace vantorel
