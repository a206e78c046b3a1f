// How many pictures a batch dehazes at once, and how the threads are shared between them.
#include "cli/batch_jobs.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <vector>

#include "dehazefile/memory_budget.h"
#include "vantorel/dehaze.h"

namespace vantorel {

namespace {

constexpr uint64_t kAssumedPixels = 12'000'000;

}  // namespace

uint64_t PictureBytes(uint64_t pixels, bool maps) {
  // Square enough for the estimate, which only multiplies the two.
  return DecodedPictureBytes(pixels, 1) + PipelinePeakBytes(pixels, 1) + (maps ? sizeof(float) * pixels : 0);
}

std::vector<uint64_t> EstimatedPixels(const std::vector<uint64_t>& pixels) {
  uint64_t largest = 0;
  for (const uint64_t count : pixels) largest = std::max(largest, count);
  if (largest == 0) largest = kAssumedPixels;
  std::vector<uint64_t> estimated = pixels;
  for (uint64_t& count : estimated) {
    if (count == 0) count = largest;
  }
  return estimated;
}

int DefaultJobs(const std::vector<uint64_t>& pixels, int thread_budget, uint64_t usable_bytes, bool maps) {
  uint64_t largest = 0;
  for (const uint64_t count : EstimatedPixels(pixels)) largest = std::max(largest, count);
  const uint64_t by_memory = usable_bytes / std::max<uint64_t>(PictureBytes(largest, maps), 1);
  const uint64_t jobs = std::min<uint64_t>({static_cast<uint64_t>(std::max(thread_budget, 1)), by_memory,
                                            static_cast<uint64_t>(pixels.size())});
  return static_cast<int>(std::max<uint64_t>(jobs, 1));
}

bool MemoryGate::Enter(uint64_t bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return stopped_ || in_progress_ == 0 || bytes <= usable_ - std::min(in_use_, usable_); });
  if (stopped_) return false;
  in_use_ += bytes;
  ++in_progress_;
  return true;
}

void MemoryGate::Leave(uint64_t bytes) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    in_use_ -= std::min(in_use_, bytes);
    --in_progress_;
  }
  changed_.notify_all();
}

void MemoryGate::Stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

void RunOnWorkers(int jobs, const std::function<void(int workers)>& once_started, const std::function<void()>& work) {
  std::mutex mutex;
  std::condition_variable changed;
  int ready = 0;
  bool go = false;
  std::vector<std::thread> others;
  for (int j = 1; j < jobs; ++j) {
    try {
      others.emplace_back([&] {
        std::free(std::malloc(1));
        std::unique_lock<std::mutex> lock(mutex);
        ++ready;
        changed.notify_all();
        changed.wait(lock, [&] { return go; });
        lock.unlock();
        work();
      });
    } catch (const std::system_error&) {
      break;  // the ones started share the pictures
    }
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return ready == static_cast<int>(others.size()); });
  }
  once_started(static_cast<int>(others.size()) + 1);
  {
    const std::lock_guard<std::mutex> lock(mutex);
    go = true;
  }
  changed.notify_all();
  work();
  for (std::thread& thread : others) thread.join();
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
