// Vantorel for clips: dehazes the frames of one clip in order, without flicker.
//
// Each frame goes through the same pipeline as DehazeCPU, but the pipeline's whole-frame
// estimates (the sample the frame is normalised by, the airlight, the transmission's row
// profile, the tone curve's log-average and its black and white points) follow an
// exponential moving average over time instead of jumping from frame to frame. The
// per-pixel work is unchanged. A scene cut (a frame whose luminance histogram is far from
// the running one) starts the averages afresh.
//
// Exactness: with a window of 0 every frame is byte for byte DehazeCPU's result on it; with
// any window the first frame and the first after a cut or Reset() are too, and a run of
// identical frames gives identical results.
#pragma once

#include <memory>

#include "vantorel/dehaze.h"

namespace vantorel {

// The settings VideoDehazer accepts: a thickness ThicknessAccepted takes, a window of 0 or
// more seconds, and a finite frame rate above 0.
bool VideoSettingsAccepted(float haze_thickness, double temporal_window_seconds,
                           double frames_per_second);

class VideoDehazer {
 public:
  // temporal_window_seconds: the time constant of the averages; 0 dehazes every frame on
  // its own. frames_per_second: the spacing of frames passed without a timestamp, and of
  // frames whose timestamp does not advance.
  VideoDehazer(float haze_thickness, Look look = Look::kClassic,
               double temporal_window_seconds = 1.0, double frames_per_second = 30.0);
  ~VideoDehazer();
  VideoDehazer(VideoDehazer&&) noexcept;
  VideoDehazer& operator=(VideoDehazer&&) noexcept;

  // Dehazes the next frame of the clip in place: rows x cols BGR pixels, packed, as for
  // DehazeCPU. The first form places it one frame period after the previous one; the second
  // at `timestamp_seconds`. Returns false, touching nothing, when the settings or the
  // arguments are refused. A frame of another size than the previous one starts afresh.
  // Library errors (out of memory) are thrown and leave the frame unchanged; Reset() before
  // going on then.
  bool Process(unsigned char* data, int cols, int rows);
  bool Process(unsigned char* data, int cols, int rows, double timestamp_seconds);

  // Forgets the history: the next frame is dehazed as a picture on its own.
  void Reset();

  // Whether the last frame processed started afresh: the first frame, the first after
  // Reset(), a change of size, or a scene cut.
  bool LastFrameStartedScene() const;

  // The distance between a frame's luminance histogram (16 bins) and the running one (half
  // the sum of the absolute differences of the bins' shares, in [0, 1]) above which the frame
  // is a scene cut. Measured on 480x270 views of the two bundled photographs: cuts between
  // them 0.41 to 0.90; within one scene a pan of half the frame at once 0.26 at most, a white
  // object over 11 % of the frame 0.11, the light raised by 5 % at once 0.27.
  static constexpr double kSceneCutDistance = 0.35;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vantorel
