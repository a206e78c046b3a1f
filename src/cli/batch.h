// vantorel [OPTIONS] -o DIR SOURCE...: many pictures in one run.
#pragma once

#include <string>

#include "dehazefile/batch_plan.h"
#include "dehazefile/dehaze_file.h"

namespace vantorel {

// What a batch needs: the pictures and where their results go, and how each is dehazed.
struct BatchRun {
  BatchRequest plan;
  float thickness = 1.0f;
  Look look = Look::kClassic;
  OutputOptions output;
  bool force = false;          // replace write-protected results
  bool quiet = false;          // errors only
  bool skip_existing = false;  // leave results that exist
  int jobs = 0;                // pictures at once; 0: chosen from the cores and the memory
};

// Plans the batch (refusing name collisions before any work), dehazes the pictures with
// the jobs asked for or chosen, reports progress and a summary. Returns the exit status:
// 0 when every picture was written or skipped, 1 when any failed or a full disk stopped
// it, 128 + the signal when a signal stopped it.
int RunBatch(const BatchRun& run);

}  // namespace vantorel
