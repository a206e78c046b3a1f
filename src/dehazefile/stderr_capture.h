// Holds back what the image codecs write straight to standard error (libjpeg's and
// libpng's own messages), so that a failed run still says one line, and so that the
// codec's words can go into that line instead.
#pragma once

#include <mutex>
#include <string>

namespace vantorel {

// Standard error is the process's: one capture at a time, so a capture in one thread
// waits for another's to end. Writes from other threads meanwhile go into the capture;
// a program that reports while captures run writes to its own duplicate of descriptor 2.
class StderrCapture {
 public:
  // From here on, file descriptor 2 goes to a private in-memory file.
  StderrCapture();
  // Puts standard error back; what was captured is dropped unless Take() read it.
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Puts standard error back and returns what was written meanwhile, lines joined by
  // "; " and without the final line break.
  std::string Take();

 private:
  void Restore();
  std::unique_lock<std::mutex> lock_;
  int saved_ = -1;
  int capture_ = -1;
};

}  // namespace vantorel
