// Replacing a file in one step: write a temporary file beside the target, flush it to
// disk and rename it over the target.
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

// Characters of the result's name kept in the temporary file's name.
constexpr size_t kTempNameStem = 200;

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
  // The temporary name adds 13 characters to the result's; a result name near the
  // file-name limit keeps only its start in the temporary one.
  std::string temp = DirectoryOf(target) + "/." + BaseNameOf(target).substr(0, kTempNameStem) + ".tmp-XXXXXX";
  int slot = -1;
  const int fd = CreateGuardedTempFile(temp, slot);
  if (fd < 0) {
    error = WriteFailure(errno);
    return false;
  }
  bool ok = WriteAll(fd, bytes.data(), bytes.size()) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  int saved_errno = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved_errno = errno;
  }
  if (ok && !CommitGuardedTempFile(slot, target)) {
    ok = false;
    saved_errno = errno;
  }
  if (!ok) {
    DiscardGuardedTempFile(slot);
    error = WriteFailure(saved_errno);
  }
  return ok;
}

}  // namespace vantorel
