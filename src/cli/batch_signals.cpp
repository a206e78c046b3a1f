// Stopping a batch cleanly: the signals are taken by one thread with sigwait, so that the
// stop is ordinary code (locks, messages) rather than a signal handler.
#include "cli/batch_signals.h"

#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "dehazefile/temp_file_guard.h"

namespace vantorel {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

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
  std::thread([waited, report_fd, on_first = std::move(on_first)] {
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
  }).detach();
}

}  // namespace vantorel
