// The luminance histogram of an 8-bit BGR frame, as shares of its pixels, and the distance
// between two such histograms: what tells a scene cut from a frame of the same scene.
#pragma once

#include <array>

namespace vantorel {

constexpr int kLumaBins = 16;
using LumaHistogram = std::array<double, kLumaBins>;

// Shares of the pixels (summing to 1) in 16 bins of 16 luma levels each (coarse, so that a
// slight change of light in a hazy scene, whose levels crowd together, stays far from a cut); the luma is the
// integer BT.601 weighting (77 R + 150 G + 29 B) / 256. Needs cols, rows > 0.
LumaHistogram MeasureLumaHistogram(const unsigned char* bgr, int cols, int rows);

// Half the sum of the absolute differences of the bins: 0 for equal histograms, 1 for
// histograms with no level in common.
double HistogramDistance(const LumaHistogram& a, const LumaHistogram& b);

// Moves `running` toward `frame` by `weight` in (0, 1]; the shares keep summing to 1.
void FollowHistogram(const LumaHistogram& frame, double weight, LumaHistogram& running);

}  // namespace vantorel
