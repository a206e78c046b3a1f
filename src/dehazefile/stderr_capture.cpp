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
  // The codecs' own words, without the image library's log lines ("[ WARN:0@0.01] global
  // ./modules/..."): those name its source files, not the user's, and where the tool runs
  // inside a program that left the library's logging on, they arrive here too.
  std::string said;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    while (!line.empty() && line.back() == '\r') line.pop_back();
    const bool library_log = line.size() > 1 && line[0] == '[' && line.find("] global ") != std::string::npos;
    if (!line.empty() && !library_log) said += (said.empty() ? "" : "; ") + line;
    start = end + 1;
  }
  return said;
}

}  // namespace vantorel
