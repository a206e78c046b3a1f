// How many pictures a batch dehazes at once, and how the threads are shared between them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace vantorel {

// The default number of pictures at once: no more than the thread budget, no more than
// the memory allows for the largest picture (the pipeline's estimated peak, plus a
// transmission map's floats when maps are written), never more than there are pictures,
// and at least one.
//   pixels         each picture's pixel count, 0 where unknown (taken as the largest known,
//                  or 12 megapixels when none is known)
//   thread_budget  the threads the batch may use
//   usable_bytes   the memory the process may still use
//   maps           whether transmission maps are kept too
int DefaultJobs(const std::vector<uint64_t>& pixels, int thread_budget, uint64_t usable_bytes, bool maps);

// Each picture's pixel count with the unknown ones (0) taken as the largest known, or as
// 12 megapixels when none is known.
std::vector<uint64_t> EstimatedPixels(const std::vector<uint64_t>& pixels);

// The memory one picture of `pixels` needs while it is dehazed (the decoded picture and the
// pipeline's estimated peak, plus a transmission map's floats when maps are written).
uint64_t PictureBytes(uint64_t pixels, bool maps);

// Lets pictures start only while their estimates, added up, fit in what the batch may
// use: one that does not fit beside those in progress waits for them, and one that would
// not fit even alone starts when nothing else runs (the file layer then refuses it with
// its reason). So that a -j larger than the memory allows fails no picture that fits.
class MemoryGate {
 public:
  explicit MemoryGate(uint64_t usable_bytes) : usable_(usable_bytes) {}

  // Waits until `bytes` fit beside the pictures in progress, or none is in progress; true
  // once they are counted in, false when Stop was called meanwhile.
  bool Enter(uint64_t bytes);
  void Leave(uint64_t bytes);
  // Wakes the waiting and lets no more in.
  void Stop();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t usable_;
  uint64_t in_use_ = 0;
  int in_progress_ = 0;
  bool stopped_ = false;
};

// Runs `work` on `jobs` threads, the calling one among them. The others are started first,
// and each touches the allocator so that its arena exists; `once_started` is then called
// with the number of threads that run `work` (fewer than `jobs` when the system would not
// start more), before any of them does.
void RunOnWorkers(int jobs, const std::function<void(int workers)>& once_started, const std::function<void()>& work);

// Shares the thread budget between the pictures in progress through the library's
// process-wide thread count: budget / the pictures that can still run at once, so that
// the last pictures of a batch get the threads the finished ones no longer use.
class ThreadShare {
 public:
  ThreadShare(int budget, int jobs, int pictures);
  // One picture is done; the ones still running get a larger share from their next step on.
  void PictureDone();

 private:
  void Apply();
  std::mutex mutex_;
  int budget_;
  int jobs_;
  int left_;
};

}  // namespace vantorel
