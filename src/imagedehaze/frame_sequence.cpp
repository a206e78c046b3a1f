#include "imagedehaze/frame_sequence.h"

#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "imagedehaze/luma_histogram.h"
#include "imagedehaze/pipeline.h"
#include "imagedehaze/temporal_estimates.h"
#include "imagedehaze/working_images.h"
#include "vantorel/video_dehazer.h"

namespace vantorel {

namespace {

// The gates, in the order every frame passes them.
enum Gate : int { kScene, kDivisor, kAirlight, kRowProfile, kToneLevels, kBlackAndWhite, kGates };

constexpr Estimate EstimateAt(Gate gate) {
  switch (gate) {
    case kDivisor: return Estimate::kDivisor;
    case kAirlight: return Estimate::kAirlight;
    case kRowProfile: return Estimate::kRowProfile;
    case kToneLevels: return Estimate::kToneLevels;
    default: return Estimate::kBlackAndWhite;
  }
}

}  // namespace

struct FrameSequence::Shared {
  Shared(float haze_thickness, Look frame_look, double temporal_window, double frames_per_second,
         const EdgeFilters& edge_filters)
      : thickness(haze_thickness), look(frame_look), window(temporal_window),
        frame_period(1.0 / frames_per_second), filters(edge_filters),
        accepted(VideoSettingsAccepted(haze_thickness, temporal_window, frames_per_second)) {}

  const float thickness;
  const Look look;
  const double window;
  const double frame_period;
  const EdgeFilters& filters;
  const bool accepted;

  // Everything below is guarded by `lock`.
  std::mutex lock;
  std::condition_variable gate_passed;
  // How many frames have passed each gate: frame n may pass a gate when it is n.
  int64_t passed[kGates] = {};

  // Behind the scene gate: what the next frame is compared with (nothing yet after a fresh
  // start).
  bool started = false;
  int cols = 0, rows = 0;
  double last_time = 0.0;
  LumaHistogram running_histogram{};
  bool last_started_scene = false;
  // Behind the estimates' gates, one kind each.
  TemporalEstimates estimates;

  // Working images not in use: one set per frame in flight, kept from frame to frame.
  std::vector<std::unique_ptr<WorkingImages>> idle_images;

  // The scene decision of a frame of this size at `time` (none: a frame period after the
  // previous one) with this histogram (measured only with a window): its weight against the
  // history, 1 when it starts afresh; `fresh` tells which. The history then includes it.
  double DecideScene(int frame_cols, int frame_rows, std::optional<double> time, const LumaHistogram& histogram,
                     bool& fresh) {
    const double at = time ? *time : (started ? last_time + frame_period : 0.0);
    const bool same_scene = started && frame_cols == cols && frame_rows == rows &&
                            !(window > 0.0 && HistogramDistance(histogram, running_histogram) >
                                                  VideoDehazer::kSceneCutDistance);
    fresh = !same_scene;
    const double weight = fresh ? 1.0 : FrameWeight(at > last_time ? at - last_time : frame_period, window);
    if (window > 0.0) {
      if (weight >= 1.0) {
        running_histogram = histogram;
      } else {
        FollowHistogram(histogram, weight, running_histogram);
      }
    }
    last_started_scene = fresh;
    started = true;
    cols = frame_cols;
    rows = frame_rows;
    last_time = at;
    return weight;
  }
};

namespace {

// One frame's way through the gates. The pipeline hands it the frame's estimates; each is
// followed in the shared running values once the previous frame has passed the same gate.
// Whatever gates are left when it ends are passed then, with a frame that started afresh
// forgetting the running values it did not replace, as the first frame of a scene does.
class FrameTurn : public FrameEstimates {
 public:
  FrameTurn(FrameSequence::Shared& shared, int64_t index) : shared_(shared), index_(index) {}
  ~FrameTurn() override {
    std::unique_lock<std::mutex> hold(shared_.lock);
    PassUpTo(kGates, hold);
  }
  FrameTurn(const FrameTurn&) = delete;
  FrameTurn& operator=(const FrameTurn&) = delete;

  // Runs `step` at `gate`, in this frame's turn, with the running values to itself. The
  // pipeline calls each estimate once and in the gates' order: a frame at a gate it has
  // already passed would wait for itself.
  template <typename Step>
  void At(Gate gate, const Step& step) {
    std::unique_lock<std::mutex> hold(shared_.lock);
    PassUpTo(gate, hold);
    WaitForTurn(gate, hold);
    if (fresh_ && gate != kScene) shared_.estimates.Clear(EstimateAt(gate));
    shared_.estimates.SetWeight(weight_);
    step();
    Pass(gate);
  }

  void DecideScene(int cols, int rows, std::optional<double> time, const LumaHistogram& histogram) {
    At(kScene, [&] { weight_ = shared_.DecideScene(cols, rows, time, histogram, fresh_); });
  }

  double Divisor(double measured) override {
    double followed = measured;
    At(kDivisor, [&] { followed = shared_.estimates.Divisor(measured); });
    return followed;
  }
  cv::Vec3f Airlight(const cv::Vec3f& measured) override {
    cv::Vec3f followed = measured;
    At(kAirlight, [&] { followed = shared_.estimates.Airlight(measured); });
    return followed;
  }
  void RowProfile(cv::Mat& profile) override {
    At(kRowProfile, [&] { shared_.estimates.RowProfile(profile); });
  }
  void ToneLevels(float& log_average, int& top) override {
    At(kToneLevels, [&] { shared_.estimates.ToneLevels(log_average, top); });
  }
  void BlackAndWhite(float& black, float& white) override {
    At(kBlackAndWhite, [&] { shared_.estimates.BlackAndWhite(black, white); });
  }

 private:
  void WaitForTurn(Gate gate, std::unique_lock<std::mutex>& hold) {
    shared_.gate_passed.wait(hold, [&] { return shared_.passed[gate] == index_; });
  }

  void Pass(Gate gate) {
    shared_.passed[gate] = index_ + 1;
    next_gate_ = static_cast<unsigned>(gate) + 1;
    shared_.gate_passed.notify_all();
  }

  // Passes the gates from the next one up to `end` (excluded) without using them.
  void PassUpTo(unsigned end, std::unique_lock<std::mutex>& hold) {
    for (unsigned gate = next_gate_; gate < end; ++gate) {
      WaitForTurn(static_cast<Gate>(gate), hold);
      if (fresh_ && gate != kScene) shared_.estimates.Clear(EstimateAt(static_cast<Gate>(gate)));
      Pass(static_cast<Gate>(gate));
    }
  }

  FrameSequence::Shared& shared_;
  const int64_t index_;
  unsigned next_gate_ = 0;
  // From the scene decision. Until then (a frame refused before it) the frame changes
  // nothing as it passes.
  double weight_ = 1.0;
  bool fresh_ = false;
};

// A set of working images taken from the idle ones (or made) for one frame, and given back.
class BorrowedImages {
 public:
  explicit BorrowedImages(FrameSequence::Shared& shared) : shared_(shared) {
    std::lock_guard<std::mutex> hold(shared_.lock);
    if (!shared_.idle_images.empty()) {
      images_ = std::move(shared_.idle_images.back());
      shared_.idle_images.pop_back();
    }
  }
  ~BorrowedImages() {
    std::lock_guard<std::mutex> hold(shared_.lock);
    shared_.idle_images.push_back(std::move(images_));
  }
  BorrowedImages(const BorrowedImages&) = delete;
  BorrowedImages& operator=(const BorrowedImages&) = delete;

  WorkingImages& Get() {
    if (!images_) images_ = std::make_unique<WorkingImages>(true);
    return *images_;
  }

 private:
  FrameSequence::Shared& shared_;
  std::unique_ptr<WorkingImages> images_;
};

}  // namespace

FrameSequence::FrameSequence(float haze_thickness, Look look, double temporal_window_seconds,
                             double frames_per_second, const EdgeFilters& filters)
    : shared_(std::make_unique<Shared>(haze_thickness, look, temporal_window_seconds, frames_per_second, filters)) {}

FrameSequence::~FrameSequence() = default;

bool FrameSequence::Accepted() const { return shared_->accepted; }

bool FrameSequence::Dehaze(int64_t index, unsigned char* data, int cols, int rows,
                           std::optional<double> timestamp_seconds, int threads) {
  Shared& s = *shared_;
  FrameTurn turn(s, index);
  if (!s.accepted || cols <= 0 || rows <= 0 || data == nullptr || threads < 0) return false;

  // The histogram is this frame's own: measured before its turn.
  LumaHistogram histogram{};
  if (s.window > 0.0) histogram = MeasureLumaHistogram(data, cols, rows);
  turn.DecideScene(cols, rows, timestamp_seconds, histogram);

  BorrowedImages images(s);
  DehazeOptions options;
  options.look = s.look;
  options.threads = threads;
  return RunPipeline(data, cols, rows, s.thickness, options, s.filters, &turn, images.Get());
}

void FrameSequence::Reset() {
  std::lock_guard<std::mutex> hold(shared_->lock);
  shared_->estimates.Clear();
  shared_->started = false;
}

bool FrameSequence::LastFrameStartedScene() const {
  std::lock_guard<std::mutex> hold(shared_->lock);
  return shared_->last_started_scene;
}

}  // namespace vantorel
