// What a capture of standard error hands back: the codecs' words, one line, without the
// image library's own log lines.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "dehazefile/stderr_capture.h"

namespace vantorel {
namespace {

void WriteToStandardError(const std::string& text) {
  ASSERT_EQ(::write(STDERR_FILENO, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

TEST(StderrCapture, KeepsTheCodecsLinesAndDropsTheLibrarysLog) {
  StderrCapture capture;
  WriteToStandardError("[ WARN:0@0.014] global ./modules/imgcodecs/src/loadsave.cpp (239) findDecoder "
                       "imread_('x.jpg'): can't open/read file\n");
  WriteToStandardError("Premature end of JPEG file\r\n");
  WriteToStandardError("[ERROR:0@0.020] global ./modules/imgcodecs/src/grfmt_png.cpp (1) x\n");
  WriteToStandardError("libpng warning: iCCP: known incorrect sRGB profile\n");
  EXPECT_EQ(capture.Take(), "Premature end of JPEG file; libpng warning: iCCP: known incorrect sRGB profile");
}

TEST(StderrCapture, NothingSaidIsAnEmptyText) {
  StderrCapture capture;
  WriteToStandardError("[ WARN:0@1.5] global ./modules/core/src/x.cpp (1) only the library spoke\n");
  EXPECT_EQ(capture.Take(), "");
}

}  // namespace
}  // namespace vantorel
