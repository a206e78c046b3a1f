// vantorel [OPTIONS] -o DIR SOURCE...: many pictures in one run.
#pragma once

#include "cli/command_line.h"

namespace vantorel {

// Plans the batch (refusing name collisions before any work), dehazes the pictures with
// the jobs asked for or chosen, reports progress and a summary. Returns the exit status:
// 0 when every picture was written or skipped, 1 when any failed, 128 + the signal when a
// signal stopped it.
int RunBatch(const CommandLine& line);

}  // namespace vantorel
