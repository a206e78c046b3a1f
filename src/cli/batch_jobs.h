// How many pictures a batch dehazes at once, and how the threads are shared between them.
#pragma once

#include <cstdint>
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
