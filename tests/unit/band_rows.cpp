// The tests' definition of the schedule's band override, which replaces the library's
// weak one that always answers 0.
#include "band_rows.h"

#include <algorithm>
#include <atomic>

#include "filters/schedule.h"

namespace vantorel {

namespace {
std::atomic<int> forced_band_rows{0};
}  // namespace

int BandRowsOverride() { return forced_band_rows.load(); }

void SetBandRowsForTesting(int rows) { forced_band_rows = std::max(rows, 0); }

}  // namespace vantorel
