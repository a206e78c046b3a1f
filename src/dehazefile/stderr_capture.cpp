// Holds back what the image codecs write straight to standard error.
#include "dehazefile/stderr_capture.h"

#include <cstdio>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace vantorel {

namespace {

// A file in memory, or /dev/null where none can be made: a pipe could fill up and
// block the codec.
int OpenCaptureFile() {
  const int fd = ::memfd_create("vantorel-stderr", MFD_CLOEXEC);
  if (fd >= 0) return fd;
  return ::open("/dev/null", O_WRONLY | O_CLOEXEC);
}

std::mutex& CaptureMutex() {
  static std::mutex mutex;
  return mutex;
}

bool IsLibraryLogLine(const std::string& line) {
  for (const char* level : {"[ WARN:", "[ERROR:", "[ INFO:", "[DEBUG:", "[FATAL:", "[VERB"}) {
    if (line.rfind(level, 0) == 0) return true;
  }
  return false;
}

}  // namespace

StderrCapture::StderrCapture() : lock_(CaptureMutex()) {
  std::fflush(stderr);
  capture_ = OpenCaptureFile();
  saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
  if (capture_ < 0 || saved_ < 0 || ::dup2(capture_, STDERR_FILENO) < 0) Restore();
}

StderrCapture::~StderrCapture() { Restore(); }

void StderrCapture::Restore() {
  std::fflush(stderr);
  if (saved_ >= 0) {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  if (lock_.owns_lock()) lock_.unlock();
}

std::string StderrCapture::Take() {
  Restore();
  std::string text;
  if (capture_ < 0) return text;
  char buffer[4096];
  ssize_t got = 0;
  // At most one buffer: the first lines say what went wrong; a flood adds nothing.
  if (::lseek(capture_, 0, SEEK_SET) == 0 && (got = ::read(capture_, buffer, sizeof buffer)) > 0) {
    text.assign(buffer, static_cast<size_t>(got));
  }
  ::close(capture_);
  capture_ = -1;
  // The codecs' own words are kept; the image library's log lines ("[ WARN:0@0.01] global
  // /build/...loadsave.cpp ...") name its source files, not the picture's fault.
  std::string joined;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || IsLibraryLogLine(line)) continue;
    joined += (joined.empty() ? "" : "; ") + line;
  }
  return joined;
}

}  // namespace vantorel
