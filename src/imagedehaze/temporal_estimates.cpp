#include "imagedehaze/temporal_estimates.h"

#include <cmath>

namespace vantorel {

void TemporalEstimates::Clear() {
  for (Estimate estimate : {Estimate::kDivisor, Estimate::kAirlight, Estimate::kRowProfile, Estimate::kToneLevels,
                            Estimate::kBlackAndWhite}) {
    Clear(estimate);
  }
}

void TemporalEstimates::Clear(Estimate estimate) {
  switch (estimate) {
    case Estimate::kDivisor: divisor_ = Running{}; break;
    case Estimate::kAirlight:
      for (Running& component : airlight_) component = Running{};
      break;
    case Estimate::kRowProfile: row_profile_.clear(); break;
    case Estimate::kToneLevels: log_average_ = top_ = Running{}; break;
    case Estimate::kBlackAndWhite: black_ = white_ = Running{}; break;
  }
}

// Taken as measured when not known yet or when the weight is whole: s + 1 x (m - s) need not
// give m back in floating point, and those frames must equal the single-picture result. A
// measurement equal to the running value leaves it unchanged (m - s = 0), so identical
// frames keep identical estimates.
double TemporalEstimates::Follow(double measured, Running& running) const {
  if (!running.known || weight_ >= 1.0) {
    running.value = measured;
    running.known = true;
    return measured;
  }
  running.value += weight_ * (measured - running.value);
  return running.value;
}

double TemporalEstimates::Divisor(double measured) { return Follow(measured, divisor_); }

cv::Vec3f TemporalEstimates::Airlight(const cv::Vec3f& measured) {
  cv::Vec3f followed;
  for (int c = 0; c < 3; ++c) followed[c] = static_cast<float>(Follow(measured[c], airlight_[c]));
  return followed;
}

void TemporalEstimates::RowProfile(cv::Mat& profile) {
  // A profile of another height belongs to frames of another size: start it afresh.
  if (row_profile_.size() != static_cast<size_t>(profile.rows)) row_profile_.assign(profile.rows, Running{});
  float* values = profile.ptr<float>(0);
  for (int y = 0; y < profile.rows; ++y) values[y] = static_cast<float>(Follow(values[y], row_profile_[y]));
}

// The top level is an index into the tone table: the running value is rounded to a level.
void TemporalEstimates::ToneLevels(float& log_average, int& top) {
  log_average = static_cast<float>(Follow(log_average, log_average_));
  top = static_cast<int>(std::lround(Follow(top, top_)));
}

void TemporalEstimates::BlackAndWhite(float& black, float& white) {
  black = static_cast<float>(Follow(black, black_));
  white = static_cast<float>(Follow(white, white_));
}

double FrameWeight(double elapsed, double window) {
  if (!(window > 0.0)) return 1.0;
  return 1.0 - std::exp(-elapsed / window);
}

}  // namespace vantorel
