// The process's worker threads, started once and kept: a dehaze runs a few dozen parallel
// loops, and starting threads for each of them cost more than some of the loops.
#pragma once

#include <functional>

namespace vantorel {

// Runs task(0) .. task(count - 1) on the calling thread and on up to threads - 1 of the
// pool's workers, and returns when all are done. The caller takes tasks too, so the loop
// finishes even when every worker is busy with other callers' loops: several threads may
// call this at once, and a task may call it again. The first exception a task throws is
// rethrown here, after every task has run. While a worker runs a task, WorkerCount() on it
// is `threads`, so a loop inside the task is scheduled for the same count.
void RunOnWorkers(int count, int threads, const std::function<void(int)>& task);

}  // namespace vantorel
