// The read-back of a whole run of pixel columns, every row of it, for sources whose edges
// are levels (bytes, 16 bits), with AVX2. Each pixel is the same expression as in
// SampleOnePixel and rounds the same; what changes is the bookkeeping around it:
//  - The z places of the levels come from two flat tables (lower corner, fraction), so
//    four pixels' places are a few loads rather than a gather of whole AxisPlace records.
//  - The upper z corner of every level that occurs is known to be the cell after the lower
//    one (checked once per filter, LevelCorners::upper_is_next), so no pixel is checked.
//  - The loop over the run's rows is inside the kernel: the constants and the call are paid
//    once per run, not once per row.
#pragma once

#include <cstdint>
#include <vector>

#include "filters/grid_row_kernels.h"

namespace vantorel {

// Where each edge level goes along z, as the vector read-back loads it.
struct LevelCorners {
  std::vector<int32_t> lower;    // the lower z corner
  std::vector<float> fraction;   // the single-precision fraction above it
  bool upper_is_next = false;    // every level in the edge range has its upper corner at lower + 1
};

// From the places of the levels (PlacesOfEdgeLevels); `in_range(level)` tells the levels
// that may occur. Levels outside the range keep corner 0, which no pixel asks for.
template <typename InRange>
LevelCorners CornersOfLevels(const std::vector<AxisPlace>& by_level, const InRange& in_range) {
  LevelCorners corners;
  corners.lower.assign(by_level.size(), 0);
  corners.fraction.assign(by_level.size(), 0.0f);
  corners.upper_is_next = !by_level.empty();
  for (size_t level = 0; level < by_level.size(); ++level) {
    if (!in_range(static_cast<int>(level))) continue;
    const AxisPlace& place = by_level[level];
    corners.lower[level] = static_cast<int32_t>(place.lower);
    corners.fraction[level] = place.fraction;
    if (place.upper != place.lower + 1) corners.upper_is_next = false;
  }
  return corners;
}

// The levels of one row, `stride` samples apart, looked up in the corner tables.
template <typename T>
struct LevelCornersOfRow {
  const T* first;
  size_t stride;
  const int32_t* lower;
  const float* fraction;

  VANTOREL_INLINE void Four(int32_t i, int32_t (&z0)[4], __m128& dz) const {
    const T* p = first + static_cast<size_t>(i) * stride;
    const size_t a = p[0], b = p[stride], c = p[2 * stride], d = p[3 * stride];
    z0[0] = lower[a];
    z0[1] = lower[b];
    z0[2] = lower[c];
    z0[3] = lower[d];
    dz = _mm_setr_ps(fraction[a], fraction[b], fraction[c], fraction[d]);
  }
};

// Samples rows [y_begin, y_end) of a run of at least four pixel columns. `rows.At(y, row,
// edges, out)` sets the row's sample rows and fraction in `row` and gives its edges
// (LevelCornersOfRow) and its output view; the run's slices, fractions and count are
// already in `row`. A row's last four pixels may be sampled again (to the same values),
// as in SampleRunRowVector.
template <typename Rows>
__attribute__((target("avx2"))) void SampleRunOfLevelsVector(RunRow row, const Rows& rows_of_run, int32_t y_begin,
                                                              int32_t y_end) {
  // A local copy: the byte stores could otherwise alias every member, reloaded per row.
  const Rows rows = rows_of_run;
  const int32_t last = row.count - 4;
  for (int32_t y = y_begin; y < y_end; ++y) {
    const auto [edges, out] = rows.At(y, row);
    for (int32_t i = 0;; i += 4) {
      if (i > last) i = last;
      int32_t z0[4];
      __m128 dz;
      edges.Four(i, z0, dz);
      out.Four(i, SampleFourPixels(row, i, z0, dz));
      if (i == last) break;
    }
  }
}

}  // namespace vantorel
