// How many pictures a batch dehazes at once, and how the threads are shared between them.
#include "cli/batch_jobs.h"

#include <algorithm>

#include "dehazefile/memory_budget.h"
#include "vantorel/dehaze.h"

namespace vantorel {

namespace {

constexpr uint64_t kAssumedPixels = 12'000'000;

}  // namespace

int DefaultJobs(const std::vector<uint64_t>& pixels, int thread_budget, uint64_t usable_bytes, bool maps) {
  uint64_t largest = 0;
  for (const uint64_t count : pixels) largest = std::max(largest, count);
  if (largest == 0) largest = kAssumedPixels;
  // Square enough for the estimate, which only multiplies the two.
  const uint64_t needed = DecodedPictureBytes(largest, 1) + PipelinePeakBytes(largest, 1) + (maps ? 4 * largest : 0);
  const uint64_t by_memory = usable_bytes / std::max<uint64_t>(needed, 1);
  const uint64_t jobs = std::min<uint64_t>({static_cast<uint64_t>(std::max(thread_budget, 1)), by_memory,
                                            static_cast<uint64_t>(pixels.size())});
  return static_cast<int>(std::max<uint64_t>(jobs, 1));
}

ThreadShare::ThreadShare(int budget, int jobs, int pictures) : budget_(budget), jobs_(jobs), left_(pictures) {
  Apply();
}

void ThreadShare::PictureDone() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (left_ > 0) --left_;
  Apply();
}

void ThreadShare::Apply() {
  const int at_once = std::max(1, std::min(jobs_, left_));
  SetThreadCount(std::max(1, budget_ / at_once));
}

}  // namespace vantorel
