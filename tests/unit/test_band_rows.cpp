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

}  // namespace
}  // namespace vantorel
