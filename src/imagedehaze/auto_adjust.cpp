// Automatic tone adjustment: the tone curve applied to every channel through its table,
// then half of the input's chroma put back.
#include "imagedehaze/auto_adjust.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "filters/parallel_for.h"
#include "imagedehaze/tone_curve.h"

namespace vantorel {

namespace {

// Single-precision pixels in [0, 1] with the channel count kept, continuous. A continuous
// float image is used as it is, and toned in place.
cv::Mat FloatPixels(const cv::Mat& img) {
  if (img.depth() == CV_32F) return img.isContinuous() ? img : img.clone();
  cv::Mat copy;
  img.convertTo(copy, CV_32F, 0.00392156862745098, 0.0);
  return copy;
}

// Weighted in single precision, red and green added first.
cv::Mat LuminanceOfBgr(const cv::Mat& bgr) {
  cv::Mat luminance(bgr.rows, bgr.cols, CV_32FC1);
  const float* in = bgr.ptr<float>();
  float* out = luminance.ptr<float>();
  ParallelForRange(luminance.total(), kPixelsPerTask, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      const float b = in[3 * i], g = in[3 * i + 1], r = in[3 * i + 2];
      out[i] = (r * 0.299f + g * 0.587f) + b * 0.114f;
    }
  });
  return luminance;
}

// Tones one band of rows in place. With three channels the toned band then keeps its
// own Y while its Cr and Cb become the means of its own and the untoned band's, which
// keeps part of the colour the tone curve washes out.
void ToneBand(const ToneCurve& curve, cv::Mat band) {
  cv::Mat input_ycrcb, toned_ycrcb;
  if (band.channels() == 3) cv::cvtColor(band, input_ycrcb, cv::COLOR_BGR2YCrCb, 0);
  float* values = band.ptr<float>();
  const std::size_t count = band.total() * static_cast<std::size_t>(band.channels());
  for (std::size_t i = 0; i < count; ++i) values[i] = curve.table[ToneLevel(values[i], curve.top)];
  if (band.channels() != 3) return;
  cv::cvtColor(band, toned_ycrcb, cv::COLOR_BGR2YCrCb, 0);
  const float* in = input_ycrcb.ptr<float>();
  float* out = toned_ycrcb.ptr<float>();
  for (std::size_t i = 0; i < count; i += 3) {
    out[i + 1] = static_cast<float>(0.5 * static_cast<double>(in[i + 1]) + 0.5 * static_cast<double>(out[i + 1]));
    out[i + 2] = static_cast<float>(0.5 * static_cast<double>(in[i + 2]) + 0.5 * static_cast<double>(out[i + 2]));
  }
  cv::cvtColor(toned_ycrcb, band, cv::COLOR_YCrCb2BGR, 0);
}

// The colour conversion treats every row on its own, so bands of whole rows give the same
// values as whole images, without more full-size images; and bands are independent, so
// they run in parallel.
void ToneInBands(const ToneCurve& curve, cv::Mat& pixels) {
  ParallelForRowBands(pixels.rows, ToneBandRows(pixels.cols),
                      [&](int first, int end) { ToneBand(curve, pixels.rowRange(first, end)); });
}

// In img's own depth; the 8-bit conversion rounds to nearest and saturates.
void WriteBack(const cv::Mat& result, cv::Mat& img) {
  if (img.depth() == CV_8U) {
    result.convertTo(img, CV_8U, 255.0, 0.0);
  } else {
    result.copyTo(img);
  }
}

}  // namespace

// Counted in parallel parts whose counts are then added: integer sums, so the split
// changes nothing.
void ComputeHistogram(const float* values, std::size_t count, int* hist, int bins) {
  if (bins <= 0) return;
  std::fill(hist, hist + bins, 0);
  std::mutex lock;
  ParallelForRange(count, kPixelsPerTask * 4, [&](std::size_t begin, std::size_t end) {
    std::vector<int> part(bins, 0);
    for (std::size_t i = begin; i < end; ++i) ++part[ToneLevel(values[i], bins - 1)];
    std::lock_guard<std::mutex> hold(lock);
    for (int b = 0; b < bins; ++b) hist[b] += part[b];
  });
}

float AutoAdjustCPU(cv::Mat& img) {
  CV_Assert(img.depth()==CV_8U || img.depth()==CV_32F);
  // Other channel counts have no defined luminance (two channels would read past each pixel).
  CV_Assert(img.channels() == 1 || img.channels() == 3);
  // No pixels, no statistics: nothing to adjust, and no exposure change to report.
  if (img.empty()) return 1.0f;

  // A continuous float picture is toned where it lies; others through a float copy.
  cv::Mat pixels = FloatPixels(img);
  // A one-channel picture is its own luminance; it is only read.
  const ToneCurve curve = ComputeToneCurve(pixels.channels() == 1 ? pixels : LuminanceOfBgr(pixels));
  if (curve.stretchable) ToneInBands(curve, pixels);
  if (pixels.data != img.data) WriteBack(pixels, img);
  return curve.exposure;
}

}  // namespace vantorel
