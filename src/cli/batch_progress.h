// What a batch tells the user while it runs: on a terminal one line redrawn in place;
// otherwise one plain line per picture; with --quiet, errors only.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace vantorel {

class BatchProgress {
 public:
  enum class Style { kTerminal, kLines, kQuiet };

  // `out` is the stream written to (a duplicate of standard error, which the codec-message
  // capture of other threads may redirect meanwhile); `pixels` each picture's pixel count
  // as far as known (0 for unknown), for the rate and the time left.
  BatchProgress(std::FILE* out, Style style, const std::vector<uint64_t>& pixels);

  void Started(size_t index, const std::string& source);
  void Written(size_t index, const std::string& source, const std::string& result, int cols, int rows,
               double seconds, const std::string& note);
  void Failed(size_t index, const std::string& error);
  void Skipped(size_t index, const std::string& source, const std::string& why);
  // A line of its own, whatever the style but quiet (notes, the stop announcement).
  void Message(const std::string& text);

  // The closing line. `stopped_by` names the signal that stopped the batch, or is "".
  void Summary(const std::string& stopped_by);

  int written() const { return written_; }
  int failed() const { return failed_; }
  int skipped() const { return skipped_; }

 private:
  void Line(const std::string& text);  // a whole line, above the redrawn one
  void Redraw();
  void Done(size_t index, uint64_t pixels_done);
  double Elapsed() const;

  std::FILE* out_;
  Style style_;
  std::mutex mutex_;
  std::chrono::steady_clock::time_point start_;
  std::vector<uint64_t> pixels_;  // unknown sizes replaced by the mean of the known ones
  std::vector<bool> finished_;
  size_t total_;
  int written_ = 0, failed_ = 0, skipped_ = 0;
  uint64_t pixels_written_ = 0;
  std::string current_;  // the name last started, for the redrawn line
};

}  // namespace vantorel
