// Writing the result image safely: encode in memory, write a temporary file beside the
// target, flush it to disk and rename it over the target.
#include "main/result_writer.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include "main/temp_file_guard.h"

namespace vantorel {

namespace {

std::string Extension(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot);
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Characters of the result's name kept in the temporary file's name.
constexpr size_t kTempNameStem = 200;

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

// Files the tool creates get the usual permissions (0666 less the umask), not
// mkstemp's private 0600.
mode_t DefaultFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

bool CanEncodeTo(const std::string& path) {
  const std::string ext = Extension(path);
  return ext.size() > 1 && cv::haveImageWriter(path);
}

bool EncodeImage(const std::string& path, const cv::Mat& image, std::vector<unsigned char>& encoded,
                 std::string& error) {
  if (!cv::imencode(Extension(path), image, encoded)) {
    error = "the image could not be encoded";
    return false;
  }
  return true;
}

bool WriteImageAtomically(const std::string& path, const cv::Mat& image, std::string& error) {
  std::vector<unsigned char> encoded;
  return EncodeImage(path, image, encoded, error) && WriteFileAtomically(path, encoded, error);
}

bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& encoded,
                         std::string& error) {
  // The temporary name adds 13 characters to the result's; a result name near the
  // file-name limit keeps only its start in the temporary one.
  std::string temp = DirectoryOf(path) + "/." + BaseNameOf(path).substr(0, kTempNameStem) + ".tmp-XXXXXX";
  const int fd = CreateGuardedTempFile(temp);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  bool ok = WriteAll(fd, encoded.data(), encoded.size()) && ::fchmod(fd, DefaultFileMode()) == 0 &&
            ::fsync(fd) == 0;
  int saved_errno = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved_errno = errno;
  }
  if (ok && !CommitGuardedTempFile(path)) {
    ok = false;
    saved_errno = errno;
  }
  if (!ok) {
    DiscardGuardedTempFile();
    error = std::strerror(saved_errno);
  }
  return ok;
}

}  // namespace vantorel
