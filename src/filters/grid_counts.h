// The weights of the streaming grid core as integer numerators (see grid_slice.h): how
// large they grow, the integer width that holds them, and the weight they stand for.
//
// Why this is exact: a cell's weight is filled with a count of pixels, and each blur pass
// gives ((a + b) + 2c) / 4. Kept without the division, a pass gives the integer
// (a + b) + 2c, at most four times the largest of its inputs, and every partial sum of it
// at most as much. After the six passes (two along each axis) a numerator N is at most
// 4^6 = 4096 times the most pixels any cell was filled with, and the weight is N / 4096.
// In double every one of those weights, and every partial sum on the way, is an integer
// below 2^53 times a power of two, so the double passes round nothing: N / 4096 is the very
// double they give, in any order of the additions, and N * (1 / 4096) computes it exactly.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace vantorel {

constexpr int kBlurPasses = 6;
constexpr int64_t kNumeratorGrowth = int64_t{1} << (2 * kBlurPasses);  // 4^6
constexpr double kWeightOfNumerator = 1.0 / static_cast<double>(kNumeratorGrowth);

// The most pixels a cell can be filled with: those of one slice's pixel columns times one
// grid row's pixel rows, the largest of each (first[i] .. first[i + 1] - 1 as
// FirstColumnOfSlices gives them).
inline int64_t MostPixelsOfACell(const std::vector<int32_t>& first_column, const std::vector<int32_t>& first_row) {
  const auto widest = [](const std::vector<int32_t>& first) {
    int32_t most = 0;
    for (size_t i = 1; i < first.size(); ++i) most = std::max(most, first[i] - first[i - 1]);
    return static_cast<int64_t>(most);
  };
  return widest(first_column) * widest(first_row);
}

// The largest count of pixels in a cell for which every numerator fits in int32_t:
// 4096 * 524287 = 2^31 - 4096. Beyond it (cells of more than about 724 x 724 pixels) the
// numerators are kept in int64_t, exact up to 2^51 pixels in a cell.
constexpr int64_t kMostPixelsForInt32Counts = std::numeric_limits<int32_t>::max() / kNumeratorGrowth;

inline bool CountsFitInt32(int64_t most_pixels_of_a_cell) { return most_pixels_of_a_cell <= kMostPixelsForInt32Counts; }

}  // namespace vantorel
