// The whole-frame estimates of a clip's frames, each followed by an exponential moving
// average: every frame's own measurement pulls the running value toward it by a weight set
// per frame. A weight of 1, or a value not yet known, takes the measurement as it is, so a
// frame dehazed with fresh estimates is exactly the single-picture result.
#pragma once

#include <vector>

#include "imagedehaze/frame_estimates.h"

namespace vantorel {

// The running values, one (or a group) per kind of estimate, in the order the pipeline
// measures them.
enum class Estimate { kDivisor, kAirlight, kRowProfile, kToneLevels, kBlackAndWhite };

class TemporalEstimates : public FrameEstimates {
 public:
  // The weight of the coming frame's measurements against the running values, in (0, 1].
  void SetWeight(double weight) { weight_ = weight; }

  // Forgets every running value.
  void Clear();
  // Forgets the running values of one kind.
  void Clear(Estimate estimate);

  double Divisor(double measured) override;
  cv::Vec3f Airlight(const cv::Vec3f& measured) override;
  void RowProfile(cv::Mat& profile) override;
  void ToneLevels(float& log_average, int& top) override;
  void BlackAndWhite(float& black, float& white) override;

 private:
  // One running value, in double so that many small steps do not drift.
  struct Running {
    double value = 0.0;
    bool known = false;
  };
  double Follow(double measured, Running& running) const;

  double weight_ = 1.0;
  Running divisor_, log_average_, top_, black_, white_;
  Running airlight_[3];
  std::vector<Running> row_profile_;
};

// The weight of a frame `elapsed` seconds after the previous one for an average whose time
// constant is `window` seconds: 1 - exp(-elapsed / window), and 1 for a window of 0.
double FrameWeight(double elapsed, double window);

}  // namespace vantorel
