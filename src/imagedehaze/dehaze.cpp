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
#include "imagedehaze/working_images.h"

namespace vantorel {

namespace {

bool ArgumentsAccepted(int cols, int rows, float haze_thickness) {
  return cols > 0 && rows > 0 && ThicknessAccepted(haze_thickness);
}

// Rows [first, end) of the source normalised and written into `picture` in YCrCb. The band
// is normalised into a buffer of its own and converted from there while it is still in
// the cache: a conversion in place would copy the band first.
void NormalizeToYCrCbRows(const cv::Mat& source_view, double largest_sample, cv::Mat& picture, int first, int end) {
  cv::Mat normalized;
  NormalizeRows(source_view.rowRange(first, end), largest_sample, normalized);
  cv::Mat band = picture.rowRange(first, end);
  cv::cvtColor(normalized, band, cv::COLOR_BGR2YCrCb, 0);
  CV_Assert(band.data == picture.ptr(first));  // written where it lies
}

// What the stages up to the transmission measure besides their images.
struct FrontEstimates {
  cv::Vec3f airlight;
  double largest_sample = 0.0;
};

// The transmission of the given look, made in work.transmission from the dark channel
// there, guided by work.picture in YCrCb. `estimates` sees the classic transmission's row
// profile (the natural one has none).
void MakeTransmission(Look look, const FrontEstimates& front, float haze_thickness, const EdgeFilters& filters,
                      FrameEstimates* estimates, WorkingImages& work) {
  if (look == Look::kNatural) {
    EstimateNaturalTransmission(work, AirlightToYCrCb(front.airlight)[0], NaturalTransmissionExponent(haze_thickness),
                                filters);
    return;
  }
  work.transmission = EstimateTransmissionFromDarkChannel(std::move(work.transmission), work.picture,
                                                          TransmissionExponent(haze_thickness), filters, estimates);
}

// Normalisation, luma, airlight and transmission, from the caller's picture as it lies
// (CV_8UC3 or CV_16UC3, only read), into work.picture (the normalised picture in YCrCb) and
// work.transmission. False for an all-black picture, which has nothing to scale by.
bool RunFrontStages(const cv::Mat& source_view, float haze_thickness, Look look, const EdgeFilters& filters,
                    FrameEstimates* estimates, FrontEstimates& front, WorkingImages& work) {
  double largest_sample = LargestSample(source_view);
  if (largest_sample == 0.0) return false;
  if (estimates != nullptr) largest_sample = estimates->Divisor(largest_sample);
  front.largest_sample = largest_sample;

  // The airlight and the dark channel read the source's samples through what the
  // normalisation makes of each level, so the normalised picture is needed only in YCrCb,
  // the form every later step reads (its Y channel is their luma). The airlight's sums
  // are long serial chains: they run beside the making of that picture, band by band.
  const cv::Mat levels = NormalizedLevels(source_view.depth(), largest_sample);
  work.picture.create(source_view.rows, source_view.cols, CV_32FC3);
  ParallelForRowBandsBeside(
      source_view.rows, RowsPerTask(source_view.cols),
      [&] { front.airlight = EstimateAirlightFromSource(source_view, levels); },
      [&](int first, int end) { NormalizeToYCrCbRows(source_view, largest_sample, work.picture, first, end); });
  if (estimates != nullptr) front.airlight = estimates->Airlight(front.airlight);
  DarkChannelFromSource(source_view, levels, front.airlight, work.transmission);
  MakeTransmission(look, front, haze_thickness, filters, estimates, work);
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

// The result into the caller's buffer in bands of rows on the threads: at 12 megapixels
// a copy on one thread alone would keep the other idle for several milliseconds.
void CopyToCaller(const cv::Mat& result, void* destination) {
  CV_Assert(result.isContinuous());
  const size_t row_bytes = static_cast<size_t>(result.cols) * result.elemSize();
  ParallelForRowBands(result.rows, RowsPerTask(result.cols), [&](int first, int end) {
    std::memcpy(static_cast<unsigned char*>(destination) + static_cast<size_t>(first) * row_bytes, result.ptr(first),
                static_cast<size_t>(end - first) * row_bytes);
  });
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
  WorkingImages work(false);
  return RunPipeline(data, cols, rows, haze_thickness, options, LibraryEdgeFilters(), nullptr, work);
}

namespace {

// The pipeline for bytes and for 16 bits alike: only the tone table's levels, the
// conversion of the result and its final filter follow the depth.
template <typename Sample>
bool RunPipelineOver(Sample* data, int cols, int rows, float haze_thickness, const DehazeOptions& options,
                     const EdgeFilters& filters, FrameEstimates* estimates, WorkingImages& work) {
  constexpr bool kBytes = sizeof(Sample) == 1;
  if (!ArgumentsAccepted(cols, rows, haze_thickness) || options.threads < 0) return false;
  const ScopedThreadCount thread_count(options.threads);
  FrontEstimates front;
  if (!RunFrontStages(SourceView(data, cols, rows), haze_thickness, options.look, filters, estimates, front, work)) {
    // An all-black picture has nothing to scale by and no haze to remove: it stays black,
    // and nothing in it is hidden by haze.
    if (options.transmission != nullptr) FillClear(options.transmission, cols, rows);
    return true;
  }
  if (options.transmission != nullptr) CopyMap(work.transmission, options.transmission);

  ToneLook look = ToneLookOf(options, haze_thickness);
  look.levels = kBytes ? 256 : 65536;
  RecoverRadiance(work, front.airlight, filters, look, estimates);

  // The natural look scales back by the input's largest sample, so the result keeps the
  // input's range: a dim photo stays dim.
  const double write_back_scale =
      options.look == Look::kNatural ? front.largest_sample : (kBytes ? 255.0 : 65535.0);
  ConvertInBands(work.picture, work.output, kBytes ? CV_8U : CV_16U, write_back_scale);
  work.Done(work.picture);
  // A last edge-preserving smoothing: 4 x 4-pixel cells, 0.02 of the range. Into a matrix
  // of its own rather than in place: then the three channels are smoothed in one parallel
  // loop that writes straight into it (in place, each channel would wait in a plane).
  if constexpr (kBytes) {
    filters.bytes(work.output, work.filtered, 4.0, 0.02);
  } else {
    filters.words(work.output, work.filtered, 4.0, 0.02);
  }
  work.Done(work.output);

  // Only now, when nothing can fail any more, is the caller's picture replaced.
  CopyToCaller(work.filtered, data);
  work.Done(work.filtered);
  return true;
}

template <typename Sample>
bool EstimateTransmissionOver(const Sample* data, int cols, int rows, float haze_thickness,
                              float* transmission) {
  if (transmission == nullptr || !ArgumentsAccepted(cols, rows, haze_thickness)) return false;
  FrontEstimates front;
  WorkingImages work(false);
  if (!RunFrontStages(SourceView(data, cols, rows), haze_thickness, Look::kClassic, LibraryEdgeFilters(), nullptr,
                      front, work)) {
    FillClear(transmission, cols, rows);
    return true;
  }
  CopyMap(work.transmission, transmission);
  return true;
}

}  // namespace

bool Dehaze16CPU(unsigned short* data, int cols, int rows, float haze_thickness, const DehazeOptions& options) {
  WorkingImages work(false);
  return RunPipeline(data, cols, rows, haze_thickness, options, LibraryEdgeFilters(), work);
}

bool RunPipeline(unsigned char* data, int cols, int rows, float haze_thickness,
                 const DehazeOptions& options, const EdgeFilters& filters, FrameEstimates* estimates) {
  WorkingImages work(false);
  return RunPipelineOver(data, cols, rows, haze_thickness, options, filters, estimates, work);
}

bool RunPipeline(unsigned char* data, int cols, int rows, float haze_thickness, const DehazeOptions& options,
                 const EdgeFilters& filters, FrameEstimates* estimates, WorkingImages& work) {
  return RunPipelineOver(data, cols, rows, haze_thickness, options, filters, estimates, work);
}

bool RunPipeline(unsigned short* data, int cols, int rows, float haze_thickness,
                 const DehazeOptions& options, const EdgeFilters& filters) {
  WorkingImages work(false);
  return RunPipelineOver(data, cols, rows, haze_thickness, options, filters, nullptr, work);
}

bool RunPipeline(unsigned short* data, int cols, int rows, float haze_thickness, const DehazeOptions& options,
                 const EdgeFilters& filters, WorkingImages& work) {
  return RunPipelineOver(data, cols, rows, haze_thickness, options, filters, nullptr, work);
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
