#include "server/picture_work.h"

#include <chrono>

#include "dehazefile/picture_parts.h"
#include "server/picture_views.h"
#include "vantorel/dehaze.h"

namespace vantorel {
namespace {

// Beyond the pipeline's own peak, a dehaze here holds a copy of the picture for the
// result (3 bytes a pixel), the map as floats (4) and as grey bytes (1).
constexpr int kExtraBytesPerPixel = 3 + 4 + 1;

// A 16-bit picture's copy takes 3 bytes a pixel more, and the pipeline its own more.
uint64_t DehazeBytes(const cv::Mat& picture) {
  const uint64_t deep = picture.depth() == CV_16U ? 3 + kDeepPipelineExtraBytesPerPixel : 0;
  return PipelinePeakBytes(picture.cols, picture.rows) + picture.total() * (kExtraBytesPerPixel + deep);
}

// Quick previews are small: a few at once, beside the full-size work.
constexpr int kPreviewJobs = 2;
constexpr int kMaxWaiting = 16;
constexpr std::chrono::seconds kMaxWait{120};
constexpr uint64_t kPreviewBytes = uint64_t{1} << 30;

std::shared_ptr<const DehazedPicture> DehazeCopy(const cv::Mat& source, const DehazeChoice& choice) {
  auto dehazed = std::make_shared<DehazedPicture>();
  dehazed->choice = choice;
  dehazed->result = source.clone();
  cv::Mat transmission(source.rows, source.cols, CV_32FC1);
  DehazeOptions options;
  options.look = choice.look;
  options.transmission = transmission.ptr<float>();
  const auto start = std::chrono::steady_clock::now();
  if (!DehazeColour(dehazed->result, choice.thickness, options)) return nullptr;
  dehazed->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  dehazed->map = MapToGrey(transmission);
  return dehazed;
}

WorkOutcome Refused(WorkGate::Admission admission) {
  switch (admission) {
    case WorkGate::Admission::kTooLarge:
      return {413, "the picture needs more memory than the server may use for one dehaze", nullptr};
    case WorkGate::Admission::kBusy:
      return {503, "the server is busy; try again in a moment", nullptr};
    default:
      return {204, "", nullptr};
  }
}

WorkOutcome Done(std::shared_ptr<const DehazedPicture> picture) {
  if (!picture) return {500, "the dehazer refused the picture", nullptr};
  return {200, "", std::move(picture)};
}

}  // namespace

DehazeChoice HeldPicture::WantedExact() const {
  std::lock_guard<std::mutex> lock(wanted_mutex_);
  return wanted_exact_;
}

DehazeChoice HeldPicture::WantedPreview() const {
  std::lock_guard<std::mutex> lock(wanted_mutex_);
  return wanted_preview_;
}

uint64_t HeldPictureBytes(int cols, int rows, int sample_bytes) {
  const uint64_t pixels = static_cast<uint64_t>(cols) * rows;
  const uint64_t reduced = uint64_t{kPreviewLongSide} * kPreviewLongSide;
  // The source and a result (3 samples a pixel each), the map (1 byte), and the reduced
  // copy with its own result and map.
  const uint64_t per_pixel = 6 * static_cast<uint64_t>(sample_bytes) + 1;
  return pixels * per_pixel + reduced * per_pixel;
}

PictureWork::PictureWork(int jobs, uint64_t work_bytes)
    : exact_gate_(jobs, work_bytes, kMaxWaiting, kMaxWait),
      preview_gate_(kPreviewJobs, kPreviewBytes, kMaxWaiting, kMaxWait) {}

WorkOutcome PictureWork::Exact(HeldPicture& held, const DehazeChoice& choice, bool latest_wins) {
  if (latest_wins) {
    {
      std::lock_guard<std::mutex> lock(held.wanted_mutex_);
      held.wanted_exact_ = choice;
    }
    exact_gate_.Wake();
  }
  const auto superseded = [&] { return latest_wins && held.WantedExact() != choice; };
  std::lock_guard<std::mutex> lock(held.exact_mutex_);
  if (held.exact_ && held.exact_->choice == choice) return Done(held.exact_);
  if (superseded()) return {204, "", nullptr};
  const cv::Mat& pixels = held.source.pixels;
  WorkOutcome outcome;
  if (!PipelineFitsInMemory(pixels.cols, pixels.rows, outcome.error,
                            kExtraBytesPerPixel + SourceExtraBytesPerPixel(held.source))) {
    outcome.status = 413;
    return outcome;
  }
  WorkGate::Pass pass;
  const WorkGate::Admission admission = exact_gate_.Enter(DehazeBytes(pixels), superseded, pass);
  if (admission != WorkGate::Admission::kAdmitted) return Refused(admission);
  held.exact_ = nullptr;  // its memory is counted for the new one
  held.exact_ = DehazeCopy(pixels, choice);
  return Done(held.exact_);
}

WorkOutcome PictureWork::Preview(HeldPicture& held, const DehazeChoice& choice) {
  {
    std::lock_guard<std::mutex> lock(held.wanted_mutex_);
    held.wanted_preview_ = choice;
  }
  preview_gate_.Wake();
  const auto superseded = [&] { return held.WantedPreview() != choice; };
  std::lock_guard<std::mutex> lock(held.preview_mutex_);
  if (held.preview_ && held.preview_->choice == choice) return Done(held.preview_);
  if (superseded()) return {204, "", nullptr};
  WorkGate::Pass pass;
  const WorkGate::Admission admission = preview_gate_.Enter(DehazeBytes(held.reduced), superseded, pass);
  if (admission != WorkGate::Admission::kAdmitted) return Refused(admission);
  held.preview_ = DehazeCopy(held.reduced, choice);
  return Done(held.preview_);
}

WorkOutcome PictureWork::InPlace(SourcePicture& source, const DehazeChoice& choice) {
  cv::Mat& pixels = source.pixels;
  WorkOutcome outcome;
  if (!PipelineFitsInMemory(pixels.cols, pixels.rows, outcome.error, SourceExtraBytesPerPixel(source))) {
    outcome.status = 413;
    return outcome;
  }
  WorkGate::Pass pass;
  const WorkGate::Admission admission = exact_gate_.Enter(PipelinePeakBytes(pixels.cols, pixels.rows), {}, pass);
  if (admission != WorkGate::Admission::kAdmitted) return Refused(admission);
  auto dehazed = std::make_shared<DehazedPicture>();
  dehazed->choice = choice;
  const auto start = std::chrono::steady_clock::now();
  DehazeOptions options;
  options.look = choice.look;
  if (!DehazeColour(pixels, choice.thickness, options)) return Done(nullptr);
  dehazed->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  dehazed->result = pixels;
  return Done(dehazed);
}

}  // namespace vantorel
