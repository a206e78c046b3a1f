// The natural look's transmission estimate.
#include "imagedehaze/natural_transmission.h"

#include <cmath>
#include <utility>

#include <opencv2/imgproc.hpp>

#include "filters/parallel_for.h"
#include "imagedehaze/natural_look.h"
#include "imagedehaze/transmission_steps.h"

namespace vantorel {

namespace {

// The k x k mean with replicated borders.
void BoxMean(const cv::Mat& source, cv::Mat& destination, int k) {
  cv::blur(source, destination, cv::Size(k, k), cv::Point(-1, -1), cv::BORDER_REPLICATE);
}

inline float ClampUnit(float v) {
  const float low = v > 0.0f ? v : 0.0f;
  return low < 1.0f ? low : 1.0f;
}

// Single-precision spread from the two means: sqrt(max(E[y^2] - E[y]^2, 0)), then the weight
// that is 1 up to a spread of 0.003 and 0 from 0.008 on.
void ToFlatness(cv::Mat& mean, const cv::Mat& mean_of_squares) {
  const int cols = mean.cols;
  ParallelForRowBands(mean.rows, RowsPerTask(cols), [&](int first, int end) {
    for (int y = first; y < end; ++y) {
      float* m = mean.ptr<float>(y);
      const float* s = mean_of_squares.ptr<float>(y);
      for (int x = 0; x < cols; ++x) {
        const float variance = s[x] - m[x] * m[x];
        const float spread = std::sqrt(variance > 0.0f ? variance : 0.0f);
        m[x] = ClampUnit((0.008f - spread) / 0.005f);
      }
    }
  });
}

}  // namespace

void ErodeDarkChannel(cv::Mat& dark_channel, int size) {
  if (size <= 1) return;
  const cv::Mat square = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(size, size));
  cv::erode(dark_channel, dark_channel, square, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
}

cv::Mat FlatnessWeight(const cv::Mat& ycrcb, int texture_window, int flatness_window) {
  cv::Mat weight, squares;
  FlatnessWeight(ycrcb, texture_window, flatness_window, weight, squares);
  return weight;
}

void FlatnessWeight(const cv::Mat& ycrcb, int texture_window, int flatness_window, cv::Mat& weight,
                    cv::Mat& squares) {
  // Two planes besides the picture: the box filter reads every row before it writes it,
  // so the means of the squares and the spread weight are made where their inputs lie.
  cv::Mat& luma = squares;
  cv::extractChannel(ycrcb, luma, 0);
  BoxMean(luma, weight, texture_window);
  cv::multiply(luma, luma, squares);  // each product in single precision
  BoxMean(squares, squares, texture_window);
  ToFlatness(weight, squares);
  BoxMean(weight, weight, flatness_window);
}

float FlatFloor(float y, float airlight_y) {
  if (!(y < airlight_y)) return 0.0f;
  return ClampUnit((airlight_y - y) / (airlight_y - 0.6f * y));
}

void RaiseFlatRegions(cv::Mat& raw_transmission, const cv::Mat& flatness, const cv::Mat& ycrcb,
                      float airlight_y, int first, int end) {
  const int cols = raw_transmission.cols;
  for (int y = first; y < end; ++y) {
    float* raw = raw_transmission.ptr<float>(y);
    const float* w = flatness.ptr<float>(y);
    const float* pixels = ycrcb.ptr<float>(y);
    for (int x = 0; x < cols; ++x) {
      const float floor = w[x] * FlatFloor(pixels[3 * x], airlight_y);
      raw[x] = floor > raw[x] ? floor : raw[x];
    }
  }
}

cv::Mat EstimateNaturalTransmission(cv::Mat dark_channel, const cv::Mat& ycrcb, float airlight_y,
                                    float transmission_exponent, const EdgeFilters& filters) {
  WorkingImages work(false);
  work.picture = ycrcb;
  work.transmission = std::move(dark_channel);
  EstimateNaturalTransmission(work, airlight_y, transmission_exponent, filters);
  return work.transmission;
}

void EstimateNaturalTransmission(WorkingImages& work, float airlight_y, float transmission_exponent,
                                 const EdgeFilters& filters) {
  const cv::Mat& ycrcb = work.picture;
  cv::Mat& raw_transmission = work.transmission;
  CV_Assert(ycrcb.type() == CV_32FC3 && ycrcb.size() == raw_transmission.size());
  const int rows = raw_transmission.rows;
  const int cols = raw_transmission.cols;
  ErodeDarkChannel(raw_transmission, NaturalErosionSize(rows, cols));
  FlatnessWeight(ycrcb, NaturalTextureWindow(rows, cols), NaturalFlatnessWindow(rows, cols), work.flatness,
                 work.squares);
  work.Done(work.squares);

  // Raw transmission, its floor and its row means, one pass in bands of rows.
  const cv::Mat& flatness = work.flatness;
  cv::Mat row_mean(rows, 1, CV_32FC1);
  ParallelForRowBands(rows, RowsPerTask(cols), [&](int first, int end) {
    cv::Mat band = raw_transmission.rowRange(first, end);
    ToRawTransmission(band);
    CV_Assert(band.data == raw_transmission.ptr(first));  // written in place
    RaiseFlatRegions(raw_transmission, flatness, ycrcb, airlight_y, first, end);
    cv::Mat means = row_mean.rowRange(first, end);
    RowMeansInto(band, means);
  });
  work.Done(work.flatness);
  LiftTowardRowProfile(raw_transmission, CapRowProfile(DampedRowProfile(row_mean)));

  // Smoothed where it lies.
  filters.joint(raw_transmission, ycrcb, raw_transmission, NaturalSmoothingSigma(rows, cols), kTransmissionSigmaR);
  RaiseTransmission(raw_transmission, transmission_exponent);
}

}  // namespace vantorel
