// Transmission map: dark channel, row-profile lift, edge-aware smoothing along the luma,
// power set by the haze thickness.
#include "imagedehaze/transmission.h"

#include <utility>

#include "imagedehaze/transmission_steps.h"

namespace vantorel {

cv::Mat EstimateTransmissionCPU(const cv::Mat& normalized, const cv::Vec3f& airlight,
                                const cv::Mat& luma, float transmission_exponent,
                                const EdgeFilters& filters) {
  return EstimateTransmissionFromDarkChannel(DarkChannel(normalized, airlight), luma,
                                             transmission_exponent, filters);
}

cv::Mat EstimateTransmissionFromDarkChannel(cv::Mat dark_channel, const cv::Mat& luma,
                                            float transmission_exponent, const EdgeFilters& filters,
                                            FrameEstimates* estimates) {
  const int rows = dark_channel.rows;
  const int cols = dark_channel.cols;

  cv::Mat row_mean;
  cv::Mat raw_transmission = RawTransmissionAndRowMeans(std::move(dark_channel), row_mean);
  cv::Mat row_profile = DampedRowProfile(row_mean);
  if (estimates != nullptr) estimates->RowProfile(row_profile);
  LiftTowardRowProfile(raw_transmission, CapRowProfile(row_profile));

  // Smoothed where it lies.
  cv::Mat transmission = std::move(raw_transmission);
  filters.joint(transmission, luma, transmission, TransmissionSigmaS(rows, cols), kTransmissionSigmaR);

  RaiseTransmission(transmission, transmission_exponent);
  return transmission;
}

}  // namespace vantorel
