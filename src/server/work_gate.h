// Bounds the dehazes running at once, by count and by the memory they reserve, so that a
// burst of requests waits (or is turned away with 503) instead of exhausting memory.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace vantorel {

class WorkGate {
 public:
  // max_jobs running at once, reserving at most max_bytes together; at most max_waiting
  // requests wait, each for at most max_wait.
  WorkGate(int max_jobs, uint64_t max_bytes, int max_waiting, std::chrono::milliseconds max_wait);

  enum class Admission {
    kAdmitted,    // run, then let the Pass go
    kTooLarge,    // the work alone needs more than max_bytes: it can never run
    kBusy,        // too many waiting, or waited too long
    kSuperseded,  // `superseded` turned true while waiting: a newer request replaced this one
  };

  // Releases the admitted work's share when destroyed.
  class Pass {
   public:
    Pass() = default;
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;
    ~Pass();

   private:
    friend class WorkGate;
    WorkGate* gate_ = nullptr;
    uint64_t bytes_ = 0;
  };

  // Waits until the work of `bytes` may run. `superseded` (may be empty) is checked while
  // waiting, under the gate's lock, after every Wake.
  Admission Enter(uint64_t bytes, const std::function<bool()>& superseded, Pass& pass);

  // Wakes the waiting requests so that they check `superseded` again.
  void Wake();

 private:
  void Leave(uint64_t bytes);

  const int max_jobs_;
  const uint64_t max_bytes_;
  const int max_waiting_;
  const std::chrono::milliseconds max_wait_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int running_ = 0;
  int waiting_ = 0;
  uint64_t reserved_bytes_ = 0;
};

}  // namespace vantorel
