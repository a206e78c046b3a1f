// Running independent tasks on the machine's cores; how many, and how work is cut, is
// the schedule's (schedule.h).
#pragma once

#include <cstddef>
#include <functional>

#include "filters/schedule.h"

namespace vantorel {

// Runs task(0) .. task(count - 1), spread over at most WorkerCount() threads, and returns
// when all are done. The first exception a task throws is rethrown here.
void ParallelFor(int count, const std::function<void(int)>& task);

// Splits [0, count) into contiguous ranges of at least `grain` elements and runs
// body(begin, end) on them in parallel. For per-element work whose elements are
// independent, so that the split changes nothing but the speed.
void ParallelForRange(size_t count, size_t grain, const std::function<void(size_t, size_t)>& body);

// Runs body(first_row, end_row) over bands of `band_rows` whole rows (the last band may
// be shorter), in parallel: for work, such as a library call, that treats every row on
// its own. The bands are handed out from the first down, or from the last up under a
// ScopedBottomUpBands.
void ParallelForRowBands(int rows, size_t band_rows, const std::function<void(int, int)>& body);

// ParallelForRowBands, with `beside()` run once as well, as the first task taken: a serial
// step that does not depend on the bands (nor they on it) runs on one thread while the
// others go through the bands, and that thread takes bands too once it is done. On one
// thread, beside() and then the bands in order.
void ParallelForRowBandsBeside(int rows, size_t band_rows, const std::function<void()>& beside,
                               const std::function<void(int, int)>& body);

// Runs task(0) .. task(count - 1) side by side, each with its share of WorkerCount()
// threads (the first ones one more when they do not divide evenly, at least one each), so
// that loops inside a task are scheduled for its share only. For a few independent tasks
// whose own loops scale less than the tasks do: two on two threads run whole on one
// thread each. On one thread, they run in order.
void ParallelTasksSharingThreads(int count, const std::function<void(int)>& task);

}  // namespace vantorel
