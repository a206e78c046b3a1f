// The pipeline frame: argument checks, normalisation, luma, the stages in their fixed
// order, the conversion back to bytes and the copy into the caller's buffer.
#include "imagedehaze/dehaze.h"

#include <cstring>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "filters/bilateral_filters.h"
#include "filters/parallel_for.h"
#include "imagedehaze/airlight.h"
#include "imagedehaze/convert_in_bands.h"
#include "imagedehaze/normalize.h"
#include "imagedehaze/recover_radiance.h"
#include "imagedehaze/transmission.h"
#include "imagedehaze/transmission_steps.h"

namespace vantorel {

namespace {

bool ArgumentsAccepted(int cols, int rows, float haze_thickness) {
  // Written as positive tests so that a NaN thickness is refused too.
  if (!(cols > 0)) return false;
  if (!(rows > 0)) return false;
  if (!(haze_thickness > 0.0f)) return false;
  if (!(haze_thickness <= 1.0f)) return false;
  return true;
}

}  // namespace

bool DehazeCPU(unsigned char* data, int cols, int rows, float haze_thickness) {
  if (!ArgumentsAccepted(cols, rows, haze_thickness)) return false;

  const float transmission_exponent = TransmissionExponent(haze_thickness);

  const cv::Mat source_view(rows, cols, CV_8UC3, data);

  const double largest_sample = LargestSample(source_view);
  // An all-black picture has nothing to scale by and no haze to remove: it stays black.
  if (largest_sample == 0.0) return true;

  cv::Mat normalized = NormalizeByLargestSample(source_view, largest_sample);

  cv::Mat ycrcb, y_plane;
  cv::Vec3f airlight;
  // The airlight's sums run in pixel order on one thread; the luma conversion only reads
  // the same picture, so it runs beside them.
  ParallelFor(2, [&](int task) {
    if (task == 0) {
      airlight = EstimateAirlightCPU(normalized);
      return;
    }
    cv::cvtColor(normalized, ycrcb, cv::COLOR_BGR2YCrCb, 0);
    // Only the Y plane is needed on its own: copy it out rather than splitting all three.
    cv::extractChannel(ycrcb, y_plane, 0);
  });
  cv::Mat transmission =
      EstimateTransmissionCPU(normalized, airlight, y_plane, transmission_exponent);
  normalized.release();  // its last reader is done

  // The recovery is the last reader of these: hand them over so it can release them early.
  cv::Mat dehazed =
      RecoverRadianceCPU(std::move(ycrcb), std::move(y_plane), airlight, std::move(transmission));

  cv::Mat output_8u;
  ConvertInBands(dehazed, output_8u, CV_8U, 255.0);
  // A last edge-preserving smoothing of the bytes: 4 x 4-pixel cells, 0.02 of the range.
  Bilateral8UC3CPU(output_8u, output_8u, 4.0, 0.02);

  std::memcpy(data, output_8u.data, static_cast<size_t>(rows) * static_cast<size_t>(cols) * 3);
  return true;
}

}  // namespace vantorel
