// Stopping a batch cleanly on SIGINT, SIGTERM or SIGHUP.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include <pthread.h>

namespace vantorel {

// Blocks the three signals in the calling thread, and so in every thread it starts from
// then on (create this before any other thread), and starts a thread that waits for them.
// The first calls `on_first` with the signal, from that thread: the batch stops taking
// pictures. A second removes every guarded temporary file and ends the process at once
// with status 128 + the signal. A signal the process was started with ignored stays ignored.
void StopOnSignals(std::function<void(int signal)> on_first);

// "SIGINT", "SIGTERM", "SIGHUP".
std::string SignalName(int signal);

// The threads that work on the pictures, so that a stop reaches them wherever they are
// blocked. A read that never returns by itself (a FIFO with no writer, a device, a
// network file system that hangs) would otherwise hold the batch for good: once a stop is
// asked for, each registered thread is sent a signal whose handler does nothing and does
// not restart the call it interrupts, again and again until it leaves, so that such a
// call fails with EINTR and its picture fails. Reading and writing regular files on a
// local disk is not interrupted by it, nor is computing.
class WorkerInterrupter : public std::enable_shared_from_this<WorkerInterrupter> {
 public:
  // Installs the handler of the interrupting signal (SIGURG, which is otherwise ignored).
  static std::shared_ptr<WorkerInterrupter> Make();

  // The calling thread works for the batch / no longer does.
  void Enter();
  void Leave();

  // From any thread: starts interrupting the registered threads, from a thread of its own
  // that lasts until none is registered. Later calls do nothing.
  void InterruptAll();

 private:
  WorkerInterrupter() = default;
  std::mutex mutex_;
  std::multiset<pthread_t> threads_;
  bool interrupting_ = false;
};

// Enter and Leave for a scope.
class InterruptibleScope {
 public:
  explicit InterruptibleScope(WorkerInterrupter& interrupter) : interrupter_(interrupter) { interrupter_.Enter(); }
  ~InterruptibleScope() { interrupter_.Leave(); }
  InterruptibleScope(const InterruptibleScope&) = delete;
  InterruptibleScope& operator=(const InterruptibleScope&) = delete;

 private:
  WorkerInterrupter& interrupter_;
};

}  // namespace vantorel
