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
#include <random>
#include <set>

#include <dirent.h>
#include <fcntl.h>

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
      // A signal the caller chose to ignore (nohup, a shell's background job) stays ignored,
      // and one that already has a handler keeps it: a batch or the server passes its stop
      // signals on to the thread that stops it cleanly (and removes these files itself), and
      // a host program such as Python has its own.
      if (::sigaction(signal, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0 ||
          current.sa_handler != SIG_DFL) {
        continue;
      }
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

// What every temporary name holds after the result's own: ".tmp-vantorel-PID-XXXXXX".
constexpr char kTempMark[] = ".tmp-vantorel-";
constexpr size_t kTempNameStem = 200;

// The first free slot, or -1; under g_slots_mutex.
int FreeSlot() {
  for (int i = 0; i < kMaxGuardedTempFiles; ++i) {
    if (!g_slots[i].taken) return i;
  }
  return -1;
}

// `path` with its trailing XXXXXX replaced by random letters and digits.
std::string Randomised(const std::string& path) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::string name = path;
  for (size_t i = name.size() >= 6 ? name.size() - 6 : 0; i < name.size(); ++i) {
    name[i] = kLetters[random() % (sizeof kLetters - 1)];
  }
  return name;
}

// The process id in a name made by TempFileTemplate, or 0 when it is not such a name.
pid_t CreatorOf(const std::string& name) {
  if (name.empty() || name[0] != '.') return 0;
  const size_t mark = name.rfind(kTempMark);
  if (mark == std::string::npos) return 0;
  const size_t digits = mark + sizeof kTempMark - 1;
  size_t end = digits;
  while (end < name.size() && name[end] >= '0' && name[end] <= '9') ++end;
  if (end == digits || end - digits > 9 || end + 7 != name.size() || name[end] != '-') return 0;
  return static_cast<pid_t>(std::strtol(name.c_str() + digits, nullptr, 10));
}

bool Running(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

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
  const int free_slot = FreeSlot();
  if (free_slot < 0) {
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

std::string TempFileTemplate(const std::string& dir, const std::string& base) {
  return dir + "/." + base.substr(0, kTempNameStem) + kTempMark + std::to_string(::getpid()) + "-XXXXXX";
}

bool LinkGuardedTempFile(int fd, std::string& path, int& slot) {
  slot = -1;
  if (path.size() >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return false;
  }
  InstallHandlersOnce();
  const SignalsHeldBack held;
  const std::lock_guard<std::mutex> lock(g_slots_mutex);
  if (g_closed) {
    errno = ECANCELED;
    return false;
  }
  const int free_slot = FreeSlot();
  if (free_slot < 0) {
    errno = EMFILE;
    return false;
  }
  const std::string proc_path = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = Randomised(path);
    // Through /proc, which needs no privilege; without /proc, AT_EMPTY_PATH, which needs
    // CAP_DAC_READ_SEARCH.
    int linked = ::linkat(AT_FDCWD, proc_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno == ENOENT) linked = ::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
    if (linked != 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    Slot& chosen = g_slots[free_slot];
    std::memcpy(chosen.path, name.c_str(), name.size() + 1);
    chosen.taken = true;
    chosen.armed = 1;
    path = name;
    slot = free_slot;
    return true;
  }
  errno = EEXIST;
  return false;
}

void RemoveStaleTempFiles(const std::string& dir) {
  static std::mutex looked_mutex;
  static std::set<std::string> looked_through;
  {
    const std::lock_guard<std::mutex> lock(looked_mutex);
    if (!looked_through.insert(dir).second) return;
  }
  DIR* folder = ::opendir(dir.c_str());
  if (folder == nullptr) return;
  const pid_t self = ::getpid();
  while (const dirent* entry = ::readdir(folder)) {
    const pid_t creator = CreatorOf(entry->d_name);
    // This process's own are in progress in another thread, or guarded.
    if (creator <= 0 || creator == self || Running(creator)) continue;
    ::unlinkat(::dirfd(folder), entry->d_name, 0);
  }
  ::closedir(folder);
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
