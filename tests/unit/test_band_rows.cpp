// The band override the other tests rely on must reach the library's schedule: otherwise
// every "whatever the bands" test would run the default bands only.
#include <gtest/gtest.h>

#include "band_rows.h"
#include "filters/schedule.h"

namespace vantorel {
namespace {

TEST(BandRowsOverride, ReachesEveryBandTheScheduleCuts) {
  SetBandRowsForTesting(3);
  EXPECT_EQ(RowsPerTask(4000), 3u);
  EXPECT_EQ(ToneBandRows(4000), 3);
  EXPECT_EQ(GridBandRows(5000, 64, 16.0), 3);
  SetBandRowsForTesting(0);
  EXPECT_GT(RowsPerTask(1), 3u);
  EXPECT_GT(ToneBandRows(10), 3);
}

// Bands of a grid filter: the fewest that keep within the longest band, made a multiple
// of the threads so that they share the bands equally.
TEST(GridBandCount, FewestBandsRoundedUpToAMultipleOfTheThreads) {
  EXPECT_EQ(GridBandCount(1080, 320, 1), 4);
  EXPECT_EQ(GridBandCount(1080, 320, 2), 4);   // 270 rows each, not 320, 320, 320 and 120
  EXPECT_EQ(GridBandCount(1000, 320, 3), 6);
  EXPECT_EQ(GridBandCount(3000, 320, 2), 10);
  EXPECT_EQ(GridBandCount(300, 320, 2), 1);    // one band: its columns are split instead
  EXPECT_EQ(GridBandCount(5, 2, 4), 4);
  EXPECT_EQ(GridBandCount(3, 1, 8), 3);        // never more bands than rows
  for (int32_t height = 1; height < 700; height += 7) {
    for (const int32_t longest : {1, 35, 320}) {
      for (const int workers : {1, 2, 3}) {
        const int32_t bands = GridBandCount(height, longest, workers);
        ASSERT_GE(bands, 1);
        ASSERT_LE(bands, height);
        // Even cuts (height * b / bands) are at most ceil(height / bands) rows.
        ASSERT_LE((height + bands - 1) / bands, longest) << height << " " << longest << " " << workers;
        if (bands > 1 && bands < height) {
          ASSERT_EQ(bands % workers, 0) << height << " " << longest;
        }
      }
    }
  }
}

}  // namespace
}  // namespace vantorel
