// Transmission map: dark channel, row-profile lift, edge-aware smoothing along the luma,
// power set by the haze thickness.
#include "imagedehaze/transmission.h"

#include "imagedehaze/transmission_steps.h"

namespace vantorel {

cv::Mat EstimateTransmissionCPU(const cv::Mat& normalized, const cv::Vec3f& airlight,
                                const cv::Mat& y_plane, float transmission_exponent,
                                const EdgeFilters& filters) {
  const int rows = normalized.rows;
  const int cols = normalized.cols;

  cv::Mat raw_transmission = RawTransmission(DarkChannel(normalized, airlight));
  {
    const cv::Mat row_profile = DampedRowProfile(RowMeans(raw_transmission));
    LiftTowardRowProfile(raw_transmission, CapRowProfile(row_profile));
  }

  cv::Mat transmission;
  transmission.create(rows, cols, CV_32FC1);
  filters.joint(raw_transmission, y_plane, transmission, TransmissionSigmaS(rows, cols),
                kTransmissionSigmaR);
  raw_transmission.release();

  RaiseTransmission(transmission, transmission_exponent);
  return transmission;
}

}  // namespace vantorel
