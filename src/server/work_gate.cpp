#include "server/work_gate.h"

namespace vantorel {

WorkGate::WorkGate(int max_jobs, uint64_t max_bytes, int max_waiting, std::chrono::milliseconds max_wait)
    : max_jobs_(max_jobs), max_bytes_(max_bytes), max_waiting_(max_waiting), max_wait_(max_wait) {}

WorkGate::Pass::~Pass() {
  if (gate_ != nullptr) gate_->Leave(bytes_);
}

WorkGate::Admission WorkGate::Enter(uint64_t bytes, const std::function<bool()>& superseded, Pass& pass) {
  if (bytes > max_bytes_) return Admission::kTooLarge;
  std::unique_lock<std::mutex> lock(mutex_);
  const auto fits = [&] { return running_ < max_jobs_ && reserved_bytes_ + bytes <= max_bytes_; };
  const auto stale = [&] { return superseded && superseded(); };
  if (!fits()) {
    if (waiting_ >= max_waiting_) return Admission::kBusy;
    ++waiting_;
    const bool ready = changed_.wait_for(lock, max_wait_, [&] { return stale() || fits(); });
    --waiting_;
    if (!ready) return Admission::kBusy;
  }
  if (stale()) return Admission::kSuperseded;
  ++running_;
  reserved_bytes_ += bytes;
  pass.gate_ = this;
  pass.bytes_ = bytes;
  return Admission::kAdmitted;
}

void WorkGate::Wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  changed_.notify_all();
}

void WorkGate::Leave(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  --running_;
  reserved_bytes_ -= bytes;
  changed_.notify_all();
}

}  // namespace vantorel
