// Replacing a file in one step: write a temporary file beside the target, flush it to
// disk and rename it over the target. The temporary file is unnamed (O_TMPFILE) while it
// is written, so that even a SIGKILL leaves nothing; it gets a name only for the rename,
// linkat being unable to replace a file. Where the file system has no unnamed files, it
// is named from the start, and a later run removes it if its process died.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dehazefile/dehaze_file.h"
#include "dehazefile/temp_file_guard.h"

namespace vantorel {

namespace {

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Links followed before giving up, as the kernel does (ELOOP).
constexpr int kMaxLinks = 40;

std::string BaseNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const unsigned char* bytes, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The process's umask, read without changing it: setting it to read it back would, for a
// moment, give files and folders that other threads create the wrong permissions.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "Umask:") == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  // Without /proc: set and restored, once; exact while no other thread creates files.
  static const mode_t read_once = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
  }();
  return read_once;
}

// Files the tool creates get the usual permissions (0666 less the umask), not
// mkstemp's private 0600.
mode_t DefaultFileMode() { return static_cast<mode_t>(0666 & ~CurrentUmask()); }

// The file a write to `path` must replace: `path` itself or, for a symbolic link, the
// end of its chain of links (which need not exist yet). Renaming over the link itself
// would replace the link and leave its target as it was.
bool FinalTarget(const std::string& path, std::string& target, std::string& error) {
  target = path;
  for (int links = 0; links < kMaxLinks; ++links) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    char link[PATH_MAX];
    const ssize_t length = ::readlink(target.c_str(), link, sizeof link - 1);
    if (length < 0) {
      error = std::strerror(errno);
      return false;
    }
    const std::string points_to(link, static_cast<size_t>(length));
    target = points_to[0] == '/' ? points_to : DirectoryOf(target) + "/" + points_to;
  }
  error = std::strerror(ELOOP);
  return false;
}

FileError WriteFailure(int error_number) {
  const bool full = error_number == ENOSPC || error_number == EDQUOT;
  return FileError(full ? FileError::Kind::kNoSpace : FileError::Kind::kOther, std::strerror(error_number));
}

// Writes `bytes` to `fd` with `mode` and flushes them to disk; false with errno set.
bool WriteAndFlush(int fd, const std::vector<unsigned char>& bytes, mode_t mode) {
  return WriteAll(fd, bytes.data(), bytes.size()) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
}

// The file systems without unnamed files say so with one of these.
bool NoUnnamedFiles(int error_number) {
  return error_number == EOPNOTSUPP || error_number == EISDIR || error_number == EINVAL;
}

enum class Attempt { kDone, kFailed, kUnsupported };

// Through an unnamed file: kUnsupported when the file system has none, or the file
// cannot be given a name (no /proc and no privilege), with nothing left behind.
Attempt WriteThroughUnnamedFile(const std::string& dir, const std::string& target,
                                const std::vector<unsigned char>& bytes, mode_t mode, int& error_number) {
  const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) {
    error_number = errno;
    return NoUnnamedFiles(errno) ? Attempt::kUnsupported : Attempt::kFailed;
  }
  if (!WriteAndFlush(fd, bytes, mode)) {
    error_number = errno;
    ::close(fd);
    return Attempt::kFailed;
  }
  std::string temp = TempFileTemplate(dir, BaseNameOf(target));
  int slot = -1;
  if (!LinkGuardedTempFile(fd, temp, slot)) {
    error_number = errno;
    ::close(fd);
    const bool full = error_number == ENOSPC || error_number == EDQUOT;
    return full || error_number == ECANCELED ? Attempt::kFailed : Attempt::kUnsupported;
  }
  ::close(fd);
  if (!CommitGuardedTempFile(slot, target)) {
    error_number = errno;
    DiscardGuardedTempFile(slot);
    return Attempt::kFailed;
  }
  return Attempt::kDone;
}

bool WriteThroughNamedFile(const std::string& dir, const std::string& target, const std::vector<unsigned char>& bytes,
                           mode_t mode, int& error_number) {
  std::string temp = TempFileTemplate(dir, BaseNameOf(target));
  int slot = -1;
  const int fd = CreateGuardedTempFile(temp, slot);
  if (fd < 0) {
    error_number = errno;
    return false;
  }
  bool ok = WriteAndFlush(fd, bytes, mode);
  error_number = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error_number = errno;
  }
  if (ok && !CommitGuardedTempFile(slot, target)) {
    ok = false;
    error_number = errno;
  }
  if (!ok) DiscardGuardedTempFile(slot);
  return ok;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes, bool force,
                         FileError& error) {
  error = FileError();
  std::string target;
  if (!FinalTarget(path, target, error.message)) return false;
  mode_t mode = DefaultFileMode();
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    // As cp does: a file its owner protected is not replaced unless asked to.
    if (!force && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES) {
      error = FileError(FileError::Kind::kWriteProtected, "the existing file is write-protected");
      return false;
    }
    mode = existing.st_mode & 0777;
  }
  const std::string dir = DirectoryOf(target);
  RemoveStaleTempFiles(dir);
  int error_number = 0;
  switch (WriteThroughUnnamedFile(dir, target, bytes, mode, error_number)) {
    case Attempt::kDone: return true;
    case Attempt::kUnsupported:
      if (WriteThroughNamedFile(dir, target, bytes, mode, error_number)) return true;
      break;
    case Attempt::kFailed: break;
  }
  error = WriteFailure(error_number);
  return false;
}

}  // namespace vantorel
