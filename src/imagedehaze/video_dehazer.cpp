// A clip's frames through the single-picture pipeline, with the whole-frame estimates
// followed over time and started afresh at scene cuts.
#include "vantorel/video_dehazer.h"

#include <cmath>
#include <memory>

#include "imagedehaze/edge_filters.h"
#include "imagedehaze/luma_histogram.h"
#include "imagedehaze/pipeline.h"
#include "imagedehaze/temporal_estimates.h"

namespace vantorel {

bool VideoSettingsAccepted(float haze_thickness, double temporal_window_seconds,
                           double frames_per_second) {
  return ThicknessAccepted(haze_thickness) && temporal_window_seconds >= 0.0 &&
         std::isfinite(temporal_window_seconds) && frames_per_second > 0.0 &&
         std::isfinite(frames_per_second);
}

struct VideoDehazer::State {
  State(float haze_thickness, Look frame_look, double temporal_window, double frames_per_second)
      : thickness(haze_thickness), look(frame_look), window(temporal_window),
        frame_period(1.0 / frames_per_second),
        accepted(VideoSettingsAccepted(haze_thickness, temporal_window, frames_per_second)) {}

  const float thickness;
  const Look look;
  const double window;
  const double frame_period;
  const bool accepted;

  TemporalEstimates estimates;
  // Kept from frame to frame: frames of one size allocate no frame-size memory.
  WorkingImages work{true};
  // What the next frame is compared with: nothing yet after a fresh start.
  bool started = false;
  int cols = 0, rows = 0;
  double last_time = 0.0;
  LumaHistogram running_histogram{};
  bool last_started_scene = false;

  void Forget() {
    estimates.Clear();
    started = false;
  }

  // The weight of a frame at `time` against the history; 1 when it starts afresh, which it
  // also records in `started` and `last_started_scene`.
  double WeightOf(const unsigned char* data, int frame_cols, int frame_rows, double time,
                  LumaHistogram& histogram) {
    if (window > 0.0) histogram = MeasureLumaHistogram(data, frame_cols, frame_rows);
    const bool same_scene = started && frame_cols == cols && frame_rows == rows &&
                            !(window > 0.0 && HistogramDistance(histogram, running_histogram) >
                                                  kSceneCutDistance);
    last_started_scene = !same_scene;
    if (!same_scene) {
      estimates.Clear();
      return 1.0;
    }
    const double elapsed = time > last_time ? time - last_time : frame_period;
    return FrameWeight(elapsed, window);
  }
};

VideoDehazer::VideoDehazer(float haze_thickness, Look look, double temporal_window_seconds,
                           double frames_per_second)
    : state_(std::make_unique<State>(haze_thickness, look, temporal_window_seconds, frames_per_second)) {}

VideoDehazer::~VideoDehazer() = default;
VideoDehazer::VideoDehazer(VideoDehazer&&) noexcept = default;
VideoDehazer& VideoDehazer::operator=(VideoDehazer&&) noexcept = default;

bool VideoDehazer::Process(unsigned char* data, int cols, int rows) {
  const double time = state_->started ? state_->last_time + state_->frame_period : 0.0;
  return Process(data, cols, rows, time);
}

bool VideoDehazer::Process(unsigned char* data, int cols, int rows, double timestamp_seconds) {
  State& s = *state_;
  if (!s.accepted || cols <= 0 || rows <= 0 || data == nullptr) return false;

  LumaHistogram histogram{};
  const double weight = s.WeightOf(data, cols, rows, timestamp_seconds, histogram);
  s.estimates.SetWeight(weight);
  DehazeOptions options;
  options.look = s.look;
  RunPipeline(data, cols, rows, s.thickness, options, LibraryEdgeFilters(), &s.estimates, s.work);

  if (s.window > 0.0) {
    if (weight >= 1.0) {
      s.running_histogram = histogram;
    } else {
      FollowHistogram(histogram, weight, s.running_histogram);
    }
  }
  s.started = true;
  s.cols = cols;
  s.rows = rows;
  s.last_time = timestamp_seconds;
  return true;
}

void VideoDehazer::Reset() { state_->Forget(); }

bool VideoDehazer::LastFrameStartedScene() const { return state_->last_started_scene; }

}  // namespace vantorel
