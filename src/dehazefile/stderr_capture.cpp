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
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i)) text.replace(i, 1, "; ");
  return text;
}

}  // namespace vantorel
