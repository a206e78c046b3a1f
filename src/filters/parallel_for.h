// Running independent tasks on the machine's cores.
#pragma once

#include <functional>

namespace vantorel {

// Threads to use: VANTOREL_THREADS when set to a positive number, else the cores the
// machine has. Results never depend on it.
int WorkerCount();

// Runs task(0) .. task(count - 1), spread over at most WorkerCount() threads, and returns
// when all are done. The first exception a task throws is rethrown here.
void ParallelFor(int count, const std::function<void(int)>& task);

}  // namespace vantorel
