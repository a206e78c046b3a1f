// Stopping a batch cleanly: the signals are taken by one thread with sigwait, so that the
// stop is ordinary code (locks, messages) rather than a signal handler.
#include "cli/batch_signals.h"

#include <csignal>
#include <cstring>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "dehazefile/forwarded_signals.h"
#include "dehazefile/temp_file_guard.h"

namespace vantorel {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Sent to a worker to break a blocking call; its default action is to ignore it.
constexpr int kInterruptSignal = SIGURG;

// How often a worker is interrupted again, for a call it entered after the last signal.
constexpr auto kInterruptPeriod = std::chrono::milliseconds(50);

void DoNothing(int) {}

bool Ignored(int signal) {
  struct sigaction current {};
  return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

}  // namespace

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "signal " + std::to_string(signal);
  }
}

void StopOnSignals(std::function<void(int signal)> on_first) {
  sigset_t waited;
  sigemptyset(&waited);
  for (const int signal : kStopSignals) {
    if (!Ignored(signal)) sigaddset(&waited, signal);
  }
  ::pthread_sigmask(SIG_BLOCK, &waited, nullptr);
  // The last words go to the standard error the process was started with: while a codec
  // runs, descriptor 2 is redirected into a capture file that nobody reads after _exit.
  const int report_fd = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
  // Detached: it lives as long as the process, which may end while it waits.
  std::thread waiter([waited, report_fd, on_first = std::move(on_first)] {
    bool stopping = false;
    while (true) {
      int signal = 0;
      if (::sigwait(&waited, &signal) != 0) continue;
      if (!stopping) {
        stopping = true;
        on_first(signal);
        continue;
      }
      RemoveGuardedTempFilesForExit();
      const std::string message = "\nvantorel: stopped at once by " + SignalName(signal) + "\n";
      if (::write(report_fd >= 0 ? report_fd : STDERR_FILENO, message.data(), message.size()) < 0) {
        // Nothing more can be said; the status tells.
      }
      ::_exit(128 + signal);
    }
  });
  ForwardSignalsTo(waiter.native_handle(), waited);
  waiter.detach();
}

std::shared_ptr<WorkerInterrupter> WorkerInterrupter::Make() {
  struct sigaction action {};
  action.sa_handler = DoNothing;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the interrupted call returns EINTR
  ::sigaction(kInterruptSignal, &action, nullptr);
  return std::shared_ptr<WorkerInterrupter>(new WorkerInterrupter());
}

void WorkerInterrupter::Enter() {
  const std::lock_guard<std::mutex> lock(mutex_);
  threads_.insert(::pthread_self());
}

void WorkerInterrupter::Leave() {
  const std::lock_guard<std::mutex> lock(mutex_);
  threads_.erase(threads_.find(::pthread_self()));
}

void WorkerInterrupter::InterruptAll() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (interrupting_) return;
    interrupting_ = true;
  }
  // Holds a reference through `self`: the batch may end, and let go of its own, first.
  std::thread([self = shared_from_this()] {
    while (true) {
      {
        const std::lock_guard<std::mutex> lock(self->mutex_);
        if (self->threads_.empty()) return;
        // Under the lock: a thread leaves only through it, so each one signalled still exists.
        for (const pthread_t thread : self->threads_) ::pthread_kill(thread, kInterruptSignal);
      }
      std::this_thread::sleep_for(kInterruptPeriod);
    }
  }).detach();
}

}  // namespace vantorel
