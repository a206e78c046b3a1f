// A temporary file that an interrupting signal removes. The handler may only use
// async-signal-safe calls, so the name lives in a fixed buffer and the handler does no
// more than unlink it and re-raise the signal with its default action.
#include "main/temp_file_guard.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

namespace vantorel {

namespace {

constexpr int kGuardedSignals[] = {SIGINT, SIGTERM, SIGHUP};

char g_temp_path[PATH_MAX];
volatile sig_atomic_t g_armed = 0;

void RemoveTempFileAndDie(int signal) {
  if (g_armed) ::unlink(g_temp_path);
  // SA_RESETHAND has restored the default action; the signal is blocked while this
  // handler runs and is delivered again as soon as it returns.
  ::raise(signal);
}

void InstallHandlersOnce() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (const int signal : kGuardedSignals) {
    struct sigaction current {};
    // A signal the caller chose to ignore (nohup, a shell's background job) stays ignored.
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RemoveTempFileAndDie;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(signal, &action, nullptr);
  }
}

// Holds the guarded signals back while the name and the armed flag change together.
class SignalsHeldBack {
 public:
  SignalsHeldBack() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : kGuardedSignals) sigaddset(&held, signal);
    ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeldBack() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeldBack(const SignalsHeldBack&) = delete;
  SignalsHeldBack& operator=(const SignalsHeldBack&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace

int CreateGuardedTempFile(std::string& path) {
  if (path.size() >= sizeof g_temp_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  InstallHandlersOnce();
  const SignalsHeldBack held;
  std::memcpy(g_temp_path, path.c_str(), path.size() + 1);
  const int fd = ::mkstemp(g_temp_path);
  if (fd < 0) return -1;
  g_armed = 1;
  path = g_temp_path;
  return fd;
}

bool CommitGuardedTempFile(const std::string& target) {
  const SignalsHeldBack held;
  if (::rename(g_temp_path, target.c_str()) != 0) return false;
  g_armed = 0;
  return true;
}

void DiscardGuardedTempFile() {
  const SignalsHeldBack held;
  const int saved_errno = errno;
  ::unlink(g_temp_path);
  g_armed = 0;
  errno = saved_errno;
}

}  // namespace vantorel
