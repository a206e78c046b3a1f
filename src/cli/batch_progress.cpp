// What a batch tells the user while it runs.
#include "cli/batch_progress.h"

#include <algorithm>
#include <cmath>

#include <sys/ioctl.h>

#include "cli/messages.h"

namespace vantorel {

namespace {

std::string Format(const char* format, double a) {
  char text[64];
  std::snprintf(text, sizeof text, format, a);
  return text;
}

// "[done/total] ", counting the picture just finished.
std::string Position(int done, size_t total) {
  return "[" + std::to_string(done) + "/" + std::to_string(total) + "] ";
}

// "1:05" or "1:02:05".
std::string Duration(double seconds) {
  const long s = std::lround(seconds);
  char text[32];
  if (s >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

}  // namespace

BatchProgress::BatchProgress(std::FILE* out, Style style, const std::vector<uint64_t>& pixels)
    : out_(out),
      style_(style),
      start_(std::chrono::steady_clock::now()),
      pixels_(pixels),
      finished_(pixels.size(), false),
      total_(pixels.size()) {
  uint64_t known_sum = 0, known = 0;
  for (const uint64_t count : pixels_) {
    if (count > 0) known_sum += count, ++known;
  }
  const uint64_t mean = known > 0 ? known_sum / known : 0;
  for (uint64_t& count : pixels_) {
    if (count == 0) count = mean;
  }
}

double BatchProgress::Elapsed() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void BatchProgress::Line(const std::string& text) {
  if (style_ == Style::kTerminal) std::fputs("\r\033[K", out_);
  std::fprintf(out_, "vantorel: %s\n", Printable(text).c_str());
  if (style_ == Style::kTerminal) Redraw();
  std::fflush(out_);
}

void BatchProgress::Redraw() {
  const int done = written_ + failed_ + skipped_;
  std::string text = "[" + std::to_string(done) + "/" + std::to_string(total_) + "] " + Printable(current_);
  const double elapsed = Elapsed();
  if (pixels_written_ > 0 && elapsed > 0) {
    const double rate = static_cast<double>(pixels_written_) / elapsed;  // pixels per second
    uint64_t left = 0;
    for (size_t i = 0; i < total_; ++i) {
      if (!finished_[i]) left += pixels_[i];
    }
    text += Format("  %.1f MP/s", rate / 1e6) + "  about " + Duration(static_cast<double>(left) / rate) + " left";
  }
  // Longer than the terminal is wide, the line would wrap and \r could not redraw it.
  struct winsize size {};
  const size_t width = ::ioctl(::fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
  if (text.size() > width) text = text.substr(0, width > 3 ? width - 3 : 0) + "...";
  std::fprintf(out_, "\r\033[K%s", text.c_str());
  std::fflush(out_);
}

void BatchProgress::Done(size_t index, uint64_t pixels_done) {
  if (index < finished_.size()) finished_[index] = true;
  pixels_written_ += pixels_done;
}

void BatchProgress::Started(size_t, const std::string& source) {
  const std::lock_guard<std::mutex> lock(mutex_);
  current_ = source;
  if (style_ == Style::kTerminal) Redraw();
}

void BatchProgress::Written(size_t index, const std::string& source, const std::string& result, int cols,
                            int rows, double seconds, const std::string& note) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++written_;
  Done(index, static_cast<uint64_t>(cols) * static_cast<uint64_t>(rows));
  if (style_ == Style::kQuiet) return;
  if (!note.empty()) Line("note: " + note);
  if (style_ == Style::kLines) {
    Line(Position(written_ + failed_ + skipped_, total_) + source + " -> " + result + ", " + std::to_string(cols) + " x " +
         std::to_string(rows) + Format(", %.2f s, ok", seconds));
  } else {
    Redraw();
  }
}

void BatchProgress::Failed(size_t index, const std::string& error) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++failed_;
  Done(index, 0);
  Line(Position(written_ + failed_ + skipped_, total_) + "failed: " + error);
}

void BatchProgress::Skipped(size_t index, const std::string& source, const std::string& why) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++skipped_;
  Done(index, 0);
  if (style_ == Style::kLines) Line(Position(written_ + failed_ + skipped_, total_) + source + ": skipped, " + why);
  else if (style_ == Style::kTerminal) Redraw();
}

void BatchProgress::Message(const std::string& text) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (style_ != Style::kQuiet) Line(text);
}

void BatchProgress::Summary(const std::string& stopped_by) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (style_ == Style::kTerminal) std::fputs("\r\033[K", out_);
  if (style_ != Style::kQuiet) {
    const double elapsed = Elapsed();
    const int not_started = static_cast<int>(total_) - written_ - failed_ - skipped_;
    std::string text = (stopped_by.empty() ? "" : "stopped by " + stopped_by + ": ") + std::to_string(written_) +
                       " written, " + std::to_string(failed_) + " failed, " + std::to_string(skipped_) +
                       " skipped";
    if (not_started > 0) text += ", " + std::to_string(not_started) + " not started";
    text += Format(" in %.1f s", elapsed);
    if (pixels_written_ > 0 && elapsed > 0) {
      text += Format(" (%.1f MP/s)", static_cast<double>(pixels_written_) / elapsed / 1e6);
    }
    std::fprintf(out_, "vantorel: %s\n", text.c_str());
  }
  std::fflush(out_);
}

}  // namespace vantorel
