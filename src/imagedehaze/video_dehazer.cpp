// A clip's frames through the single-picture pipeline, with the whole-frame estimates
// followed over time and started afresh at scene cuts: a frame sequence whose frames come
// one after another.
#include "vantorel/video_dehazer.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>

#include "imagedehaze/frame_sequence.h"

namespace vantorel {

bool VideoSettingsAccepted(float haze_thickness, double temporal_window_seconds,
                           double frames_per_second) {
  return ThicknessAccepted(haze_thickness) && temporal_window_seconds >= 0.0 &&
         std::isfinite(temporal_window_seconds) && frames_per_second > 0.0 &&
         std::isfinite(frames_per_second);
}

struct VideoDehazer::State {
  State(float haze_thickness, Look look, double temporal_window, double frames_per_second)
      : frames(haze_thickness, look, temporal_window, frames_per_second) {}

  FrameSequence frames;
  int64_t next_index = 0;

  bool Process(unsigned char* data, int cols, int rows, std::optional<double> timestamp_seconds) {
    // A refused frame takes no number: the sequence goes on as if it had not come.
    if (!frames.Accepted() || cols <= 0 || rows <= 0 || data == nullptr) return false;
    return frames.Dehaze(next_index++, data, cols, rows, timestamp_seconds, 0);
  }
};

VideoDehazer::VideoDehazer(float haze_thickness, Look look, double temporal_window_seconds,
                           double frames_per_second)
    : state_(std::make_unique<State>(haze_thickness, look, temporal_window_seconds, frames_per_second)) {}

VideoDehazer::~VideoDehazer() = default;
VideoDehazer::VideoDehazer(VideoDehazer&&) noexcept = default;
VideoDehazer& VideoDehazer::operator=(VideoDehazer&&) noexcept = default;

bool VideoDehazer::Process(unsigned char* data, int cols, int rows) {
  return state_->Process(data, cols, rows, std::nullopt);
}

bool VideoDehazer::Process(unsigned char* data, int cols, int rows, double timestamp_seconds) {
  return state_->Process(data, cols, rows, timestamp_seconds);
}

void VideoDehazer::Reset() { state_->frames.Reset(); }

bool VideoDehazer::LastFrameStartedScene() const { return state_->frames.LastFrameStartedScene(); }

}  // namespace vantorel
