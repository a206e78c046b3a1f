// A clip's frames through the pipeline with their whole-frame estimates followed over time
// (what VideoDehazer does), for frames that may be dehazed two or more at once, each on
// its own thread.
//
// Every frame is given with its number in the clip: 0, 1, 2, ..., each number once. What a
// frame takes from the frames before it and leaves to those after it goes through gates,
// in this order: the scene decision (its histogram against the running one, and from that
// its weight), then each whole-frame estimate in the order the pipeline measures them
// (divisor, airlight, row profile, tone levels, black and white). A frame waits at each
// gate until the frame before it has passed that gate, so the running values see the
// frames in clip order and every result is the one of dehazing the frames one after
// another; only the per-pixel work between the gates overlaps. A frame passes every gate it
// has no use for (the natural look has no row profile, an all-black frame no estimates, a
// frame that fails stops using them), so the next one never waits in vain.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "imagedehaze/edge_filters.h"
#include "vantorel/dehaze.h"

namespace vantorel {

class FrameSequence {
 public:
  // As VideoDehazer's settings; `filters` are the edge-preserving filters to run (the
  // library's, or in the tests ones that fail on purpose), which must outlive the sequence.
  FrameSequence(float haze_thickness, Look look, double temporal_window_seconds, double frames_per_second,
                const EdgeFilters& filters = LibraryEdgeFilters());
  ~FrameSequence();
  FrameSequence(const FrameSequence&) = delete;
  FrameSequence& operator=(const FrameSequence&) = delete;

  // Whether the settings are accepted (VideoSettingsAccepted).
  bool Accepted() const;

  // Dehazes frame `index` in place (rows x cols BGR pixels, packed), at `timestamp_seconds`
  // or, without one, a frame period after the previous frame. `threads` is the call's
  // DehazeOptions::threads. Safe to call from several threads at once, each with its own
  // frame; every index from 0 up must come, or the frames after a missing one wait for it.
  // Returns false, leaving the frame untouched, when the settings or the arguments are
  // refused (the frame then passes its gates as one that changes nothing). Library errors
  // are thrown, leave the frame unchanged, and let the next frame through; after one, the
  // running values are those of a partly dehazed frame: Reset() before going on.
  bool Dehaze(int64_t index, unsigned char* data, int cols, int rows, std::optional<double> timestamp_seconds,
              int threads);

  // Forgets the history: the next frame starts afresh. Only while no frame is in flight;
  // the numbers go on from where they were.
  void Reset();

  // Whether the last frame that passed the scene decision started afresh.
  bool LastFrameStartedScene() const;

  // The running values and the gates, opaque here.
  struct Shared;

 private:
  std::unique_ptr<Shared> shared_;
};

}  // namespace vantorel
