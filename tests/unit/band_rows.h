// Forces every band of rows the schedule cuts (pictures, tone, grid filters) to a size, so
// that the tests can show no result depends on it.
#pragma once

namespace vantorel {

// `rows` rows per band; 0 gives the choice back to the schedule.
void SetBandRowsForTesting(int rows);

}  // namespace vantorel
