// Holds back what the image codecs write straight to standard error (libjpeg's and
// libpng's own messages), so that a failed run still says one line, and so that the
// codec's words can go into that line instead.
#pragma once

#include <string>

namespace vantorel {

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
  int saved_ = -1;
  int capture_ = -1;
};

}  // namespace vantorel
