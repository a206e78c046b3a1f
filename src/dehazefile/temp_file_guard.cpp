// Temporary files that an interrupting signal removes. The handler may only use
// async-signal-safe calls, so the names live in fixed buffers and the handler does no
// more than unlink them and re-raise the signal with its default action.
#include "dehazefile/temp_file_guard.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <mutex>

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

namespace vantorel {

namespace {

constexpr int kGuardedSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct Slot {
  char path[PATH_MAX];
  volatile sig_atomic_t armed;
  bool taken;  // reserved by a writer, armed or not; changed under g_slots_mutex only
};

Slot g_slots[kMaxGuardedTempFiles];
std::mutex g_slots_mutex;
bool g_closed = false;  // after RemoveGuardedTempFilesForExit

void RemoveTempFilesAndDie(int signal) {
  for (Slot& slot : g_slots) {
    if (slot.armed) ::unlink(slot.path);
  }
  // SA_RESETHAND has restored the default action; the signal is blocked while this
  // handler runs and is delivered again as soon as it returns.
  ::raise(signal);
}

void InstallHandlersOnce() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    for (const int signal : kGuardedSignals) {
      struct sigaction current {};
      // A signal the caller chose to ignore (nohup, a shell's background job) stays ignored.
      if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
      struct sigaction action {};
      action.sa_handler = RemoveTempFilesAndDie;
      sigemptyset(&action.sa_mask);
      action.sa_flags = SA_RESETHAND;
      ::sigaction(signal, &action, nullptr);
    }
  });
}

// Holds the guarded signals back in this thread while a name and its armed flag change
// together.
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

bool ValidSlot(int slot) { return slot >= 0 && slot < kMaxGuardedTempFiles; }

}  // namespace

int CreateGuardedTempFile(std::string& path, int& slot) {
  slot = -1;
  if (path.size() >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return -1;
  }
  InstallHandlersOnce();
  const SignalsHeldBack held;
  const std::lock_guard<std::mutex> lock(g_slots_mutex);
  if (g_closed) {
    errno = ECANCELED;
    return -1;
  }
  int free_slot = 0;
  while (free_slot < kMaxGuardedTempFiles && g_slots[free_slot].taken) ++free_slot;
  if (free_slot == kMaxGuardedTempFiles) {
    errno = EMFILE;
    return -1;
  }
  Slot& chosen = g_slots[free_slot];
  std::memcpy(chosen.path, path.c_str(), path.size() + 1);
  const int fd = ::mkstemp(chosen.path);
  if (fd < 0) return -1;
  chosen.taken = true;
  chosen.armed = 1;
  path = chosen.path;
  slot = free_slot;
  return fd;
}

bool CommitGuardedTempFile(int slot, const std::string& target) {
  if (!ValidSlot(slot)) {
    errno = EINVAL;
    return false;
  }
  const SignalsHeldBack held;
  const std::lock_guard<std::mutex> lock(g_slots_mutex);
  Slot& chosen = g_slots[slot];
  if (!chosen.armed) {
    errno = ECANCELED;  // removed by RemoveGuardedTempFilesForExit
    return false;
  }
  if (::rename(chosen.path, target.c_str()) != 0) return false;
  chosen.armed = 0;
  chosen.taken = false;
  return true;
}

void DiscardGuardedTempFile(int slot) {
  if (!ValidSlot(slot)) return;
  const int saved_errno = errno;
  const SignalsHeldBack held;
  const std::lock_guard<std::mutex> lock(g_slots_mutex);
  Slot& chosen = g_slots[slot];
  if (chosen.armed) ::unlink(chosen.path);
  chosen.armed = 0;
  chosen.taken = false;
  errno = saved_errno;
}

void RemoveGuardedTempFilesForExit() {
  const SignalsHeldBack held;
  const std::lock_guard<std::mutex> lock(g_slots_mutex);
  g_closed = true;
  for (Slot& slot : g_slots) {
    if (slot.armed) ::unlink(slot.path);
    slot.armed = 0;
  }
}

}  // namespace vantorel
