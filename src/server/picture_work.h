// The dehazes the server runs: full-size ones for the exact view, the saved file and the
// one-shot call, and quick ones of a reduced copy while the slider moves. Each passes a
// WorkGate first; for a held picture, a newer slider value makes older waiting work give up.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <opencv2/core.hpp>

#include "dehazefile/dehaze_file.h"
#include "server/dehaze_query.h"
#include "server/work_gate.h"

namespace vantorel {

// A dehazed picture with the transmission map the pipeline estimated for it.
struct DehazedPicture {
  DehazeChoice choice;
  cv::Mat result;   // CV_8UC3
  cv::Mat map;      // CV_8UC1, 255 clear
  double seconds;   // the pipeline's own time
};

// A picture kept for the page.
struct HeldPicture {
  SourcePicture source;  // full size, as the command line reads it
  cv::Mat reduced;       // the quick previews' copy

  // What the page asked for last; older waiting work for this picture gives up.
  DehazeChoice WantedExact() const;
  DehazeChoice WantedPreview() const;

 private:
  friend class PictureWork;
  mutable std::mutex wanted_mutex_;
  DehazeChoice wanted_exact_, wanted_preview_;
  // One full-size dehaze of this picture at a time, so that a request for the same
  // choice reuses the result instead of computing it again.
  std::mutex exact_mutex_;
  std::shared_ptr<const DehazedPicture> exact_;    // the last full-size result
  std::mutex preview_mutex_;
  std::shared_ptr<const DehazedPicture> preview_;  // the last quick one
};

// What a request for a dehaze got.
struct WorkOutcome {
  int status = 200;   // 200, or the HTTP status of the failure: 204 superseded, 413, 503
  std::string error;  // for a failure other than 204
  std::shared_ptr<const DehazedPicture> picture;
};

// The memory a full-size dehaze of a held picture reserves, for the picture store's budget
// of one kept result and map; sample_bytes is 1 for an 8-bit picture, 2 for a 16-bit one.
uint64_t HeldPictureBytes(int cols, int rows, int sample_bytes = 1);

class PictureWork {
 public:
  // jobs: full-size dehazes at once; work_bytes: the memory they may reserve together.
  PictureWork(int jobs, uint64_t work_bytes);

  // The full-size result of a held picture. `latest_wins`: this request comes from the
  // slider, so a newer one for another choice supersedes it (status 204) while it waits.
  WorkOutcome Exact(HeldPicture& held, const DehazeChoice& choice, bool latest_wins);

  // The result of the reduced copy; a newer preview request supersedes this one.
  WorkOutcome Preview(HeldPicture& held, const DehazeChoice& choice);

  // Dehazes `source` in place (the one-shot call): status 200, 413 or 503.
  WorkOutcome InPlace(SourcePicture& source, const DehazeChoice& choice);

 private:
  WorkGate exact_gate_;
  WorkGate preview_gate_;
};

}  // namespace vantorel
