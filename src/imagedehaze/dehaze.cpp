// The pipeline frame: argument checks, normalisation, the stages in their fixed order, the
// conversion back to bytes (or 16 bits) and the copy into the caller's buffer.
#include "imagedehaze/dehaze.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "filters/parallel_for.h"
#include "imagedehaze/airlight.h"
#include "imagedehaze/convert_in_bands.h"
#include "imagedehaze/natural_look.h"
#include "imagedehaze/natural_transmission.h"
#include "imagedehaze/normalize.h"
#include "imagedehaze/pipeline.h"
#include "imagedehaze/recover_radiance.h"
#include "imagedehaze/recovery_loops.h"
#include "imagedehaze/transmission.h"
#include "imagedehaze/transmission_steps.h"

namespace vantorel {

namespace {

bool ArgumentsAccepted(int cols, int rows, float haze_thickness) {
  return cols > 0 && rows > 0 && ThicknessAccepted(haze_thickness);
}

// BGR to YCrCb in place, in parallel bands of rows (each converted through a copy of the
// band only).
void ToYCrCbInPlace(cv::Mat& picture) {
  ParallelForRowBands(picture.rows, RowsPerTask(picture.cols), [&](int first, int end) {
    cv::Mat band = picture.rowRange(first, end);
    cv::cvtColor(band, band, cv::COLOR_BGR2YCrCb, 0);
    CV_Assert(band.data == picture.ptr(first));  // written in place
  });
}

// What the stages up to the transmission hand to the recovery.
struct FrontStages {
  cv::Mat ycrcb, transmission;
  cv::Vec3f airlight;
  double largest_sample = 0.0;
};

// The transmission of the given look from the picture's dark channel, which it takes over.
// `estimates` sees the classic transmission's row profile (the natural one has none).
cv::Mat TransmissionOf(Look look, cv::Mat dark_channel, const FrontStages& front,
                       float haze_thickness, const EdgeFilters& filters, FrameEstimates* estimates) {
  if (look == Look::kNatural) {
    return EstimateNaturalTransmission(std::move(dark_channel), front.ycrcb,
                                       AirlightToYCrCb(front.airlight)[0],
                                       NaturalTransmissionExponent(haze_thickness), filters);
  }
  return EstimateTransmissionFromDarkChannel(std::move(dark_channel), front.ycrcb,
                                             TransmissionExponent(haze_thickness), filters, estimates);
}

// Normalisation, luma, airlight and transmission, from the caller's picture as it lies
// (CV_8UC3 or CV_16UC3, only read). False for an all-black picture, which has nothing to
// scale by; `front` is then left empty.
bool RunFrontStages(const cv::Mat& source_view, float haze_thickness, Look look, const EdgeFilters& filters,
                    FrameEstimates* estimates, FrontStages& front) {
  double largest_sample = LargestSample(source_view);
  if (largest_sample == 0.0) return false;
  if (estimates != nullptr) largest_sample = estimates->Divisor(largest_sample);
  front.largest_sample = largest_sample;

  cv::Mat normalized = NormalizeByLargestSample(source_view, largest_sample);

  front.airlight = EstimateAirlightCPU(normalized);
  if (estimates != nullptr) front.airlight = estimates->Airlight(front.airlight);
  cv::Mat dark_channel = DarkChannel(normalized, front.airlight);
  // The picture in BGR is not read again: it becomes the YCrCb picture where it lies, and
  // its Y channel is the luma every later step reads.
  ToYCrCbInPlace(normalized);
  front.ycrcb = std::move(normalized);
  front.transmission =
      TransmissionOf(look, std::move(dark_channel), front, haze_thickness, filters, estimates);
  return true;
}

// A header over the caller's packed BGR samples: bytes or 16 bits. Only read through it
// until the end; the header is const in all but its type.
template <typename Sample>
cv::Mat SourceView(const Sample* data, int cols, int rows) {
  return cv::Mat(rows, cols, sizeof(Sample) == 1 ? CV_8UC3 : CV_16UC3, const_cast<Sample*>(data));
}

void CopyMap(const cv::Mat& map, float* destination) {
  cv::Mat view(map.rows, map.cols, CV_32FC1, destination);
  map.copyTo(view);  // same size and type: copies into the caller's buffer
}

// The natural look weighs the tone curve by a third of the thickness.
ToneLook ToneLookOf(const DehazeOptions& options, float haze_thickness) {
  ToneLook look;
  if (options.look == Look::kNatural) {
    look.natural = true;
    look.strength = haze_thickness / 3.0f;
  }
  return look;
}

void FillClear(float* destination, int cols, int rows) {
  std::fill(destination, destination + static_cast<size_t>(rows) * static_cast<size_t>(cols), 1.0f);
}

}  // namespace

// Written as positive tests so that a NaN thickness is refused too.
bool ThicknessAccepted(float haze_thickness) { return haze_thickness > 0.0f && haze_thickness <= 1.0f; }

bool DehazeCPU(unsigned char* data, int cols, int rows, float haze_thickness) {
  return DehazeCPU(data, cols, rows, haze_thickness, DehazeOptions{});
}

bool DehazeCPU(unsigned char* data, int cols, int rows, float haze_thickness,
               const DehazeOptions& options) {
  return RunPipeline(data, cols, rows, haze_thickness, options, LibraryEdgeFilters());
}

namespace {

// The pipeline for bytes and for 16 bits alike: only the tone table's levels, the
// conversion of the result and its final filter follow the depth.
template <typename Sample>
bool RunPipelineOver(Sample* data, int cols, int rows, float haze_thickness, const DehazeOptions& options,
                     const EdgeFilters& filters, FrameEstimates* estimates) {
  constexpr bool kBytes = sizeof(Sample) == 1;
  if (!ArgumentsAccepted(cols, rows, haze_thickness) || options.threads < 0) return false;
  const ScopedThreadCount thread_count(options.threads);
  FrontStages front;
  if (!RunFrontStages(SourceView(data, cols, rows), haze_thickness, options.look, filters, estimates, front)) {
    // An all-black picture has nothing to scale by and no haze to remove: it stays black,
    // and nothing in it is hidden by haze.
    if (options.transmission != nullptr) FillClear(options.transmission, cols, rows);
    return true;
  }
  if (options.transmission != nullptr) CopyMap(front.transmission, options.transmission);

  ToneLook look = ToneLookOf(options, haze_thickness);
  look.levels = kBytes ? 256 : 65536;
  // The recovery is the last reader of these: hand them over so it can release them early.
  cv::Mat dehazed = RecoverRadianceCPU(std::move(front.ycrcb), front.airlight,
                                       std::move(front.transmission), filters, look, estimates);

  // The natural look scales back by the input's largest sample, so the result keeps the
  // input's range: a dim photo stays dim.
  const double write_back_scale =
      options.look == Look::kNatural ? front.largest_sample : (kBytes ? 255.0 : 65535.0);
  cv::Mat output;
  ConvertInBands(dehazed, output, kBytes ? CV_8U : CV_16U, write_back_scale);
  dehazed.release();
  // A last edge-preserving smoothing: 4 x 4-pixel cells, 0.02 of the range. Into a matrix
  // of its own rather than in place: then the three channels are smoothed in one parallel
  // loop that writes straight into it (in place, each channel would wait in a plane).
  cv::Mat filtered;
  if constexpr (kBytes) {
    filters.bytes(output, filtered, 4.0, 0.02);
  } else {
    filters.words(output, filtered, 4.0, 0.02);
  }
  output.release();

  // Only now, when nothing can fail any more, is the caller's picture replaced.
  std::memcpy(data, filtered.data, static_cast<size_t>(rows) * static_cast<size_t>(cols) * 3 * sizeof(Sample));
  return true;
}

template <typename Sample>
bool EstimateTransmissionOver(const Sample* data, int cols, int rows, float haze_thickness,
                              float* transmission) {
  if (transmission == nullptr || !ArgumentsAccepted(cols, rows, haze_thickness)) return false;
  FrontStages front;
  if (!RunFrontStages(SourceView(data, cols, rows), haze_thickness, Look::kClassic, LibraryEdgeFilters(), nullptr,
                      front)) {
    FillClear(transmission, cols, rows);
    return true;
  }
  CopyMap(front.transmission, transmission);
  return true;
}

}  // namespace

bool Dehaze16CPU(unsigned short* data, int cols, int rows, float haze_thickness, const DehazeOptions& options) {
  return RunPipeline(data, cols, rows, haze_thickness, options, LibraryEdgeFilters());
}

bool RunPipeline(unsigned char* data, int cols, int rows, float haze_thickness,
                 const DehazeOptions& options, const EdgeFilters& filters, FrameEstimates* estimates) {
  return RunPipelineOver(data, cols, rows, haze_thickness, options, filters, estimates);
}

bool RunPipeline(unsigned short* data, int cols, int rows, float haze_thickness,
                 const DehazeOptions& options, const EdgeFilters& filters) {
  return RunPipelineOver(data, cols, rows, haze_thickness, options, filters, nullptr);
}

bool EstimateTransmissionMapCPU(const unsigned char* data, int cols, int rows,
                                float haze_thickness, float* transmission) {
  return EstimateTransmissionOver(data, cols, rows, haze_thickness, transmission);
}

bool EstimateTransmissionMap16CPU(const unsigned short* data, int cols, int rows,
                                  float haze_thickness, float* transmission) {
  return EstimateTransmissionOver(data, cols, rows, haze_thickness, transmission);
}

}  // namespace vantorel
