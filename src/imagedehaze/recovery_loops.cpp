// The per-pixel loops of the radiance recovery. All arithmetic is single precision, in the
// order written; the images are continuous and walked with one running index.
#include "imagedehaze/recovery_loops.h"

#include <opencv2/imgproc.hpp>

#include "filters/parallel_for.h"

namespace vantorel {

namespace {

// Upper bound first, then lower: a value that is not a number ends as 1.
inline float ClampToUnit(float v) {
  const float u = 1.0f > v ? v : 1.0f;
  return u > 0.0f ? u : 0.0f;
}

// Scattering model solved for the scene value: the reference minus the difference to it,
// amplified by 1 / t. No guard against t = 0: the clamp settles the infinities.
inline float Restore(float reference, float observed, float t) {
  return ClampToUnit(reference - (reference - observed) / t);
}

// How far a pixel is pulled toward its smoothed value: fully at t = 0, not at all from
// t = 2/3. Lower bound first, so a NaN t gives a full blend.
inline float BlendWeight(float t) {
  const float q = 1.5f * t;
  const float c = q > 0.0f ? (1.0f > q ? q : 1.0f) : 0.0f;
  return 1.0f - c;
}

}  // namespace

cv::Vec3f AirlightToYCrCb(const cv::Vec3f& airlight_bgr) {
  cv::Vec3f bgr = airlight_bgr;
  cv::Vec3f ycrcb(0.0f, 0.0f, 0.0f);
  const cv::Mat source(1, 1, CV_32FC3, bgr.val);
  // A header over the three floats: it already has the destination's size and type, so
  // the conversion writes into them instead of allocating.
  cv::Mat destination(1, 1, CV_32FC3, ycrcb.val);
  cv::cvtColor(source, destination, cv::COLOR_BGR2YCrCb, 3);
  CV_Assert(destination.data == reinterpret_cast<uchar*>(ycrcb.val));
  return ycrcb;
}

void RecoverPixels(const cv::Mat& transmission, const cv::Vec3f& airlight_ycrcb,
                   const float* smoothed_y, cv::Mat& dehazed, int first, int end) {
  CV_Assert(transmission.isContinuous() && dehazed.isContinuous());
  const float y_a = airlight_ycrcb[0];
  const float cr_a = airlight_ycrcb[1];
  const float cb_a = airlight_ycrcb[2];
  const size_t offset = static_cast<size_t>(first) * dehazed.cols;
  const size_t count = static_cast<size_t>(end - first) * dehazed.cols;
  const float* t_data = transmission.ptr<float>() + offset;
  const float* s_data = smoothed_y;
  float* pixels = dehazed.ptr<float>() + 3 * offset;
  for (size_t i = 0; i < count; ++i) {
    float* pixel = pixels + 3 * i;
    const float t = t_data[i];
    // Chroma is restored against a reference that moves from the pixel's own chroma
    // toward the airlight's as t rises; from t = 0.8 on it is the airlight's, as for luma.
    const float p = 1.25f * t;
    const float w = 1.0f > p ? p : 1.0f;
    const float cr_m = (1.0f - w) * pixel[1] + w * cr_a;
    const float cb_m = (1.0f - w) * pixel[2] + w * cb_a;
    const float restored_s = Restore(y_a, s_data[i], t);
    const float y = Restore(y_a, pixel[0], t);
    pixel[0] = (restored_s - y) * BlendWeight(t) + y;
    pixel[1] = Restore(cr_m, pixel[1], t);
    pixel[2] = Restore(cb_m, pixel[2], t);
  }
}

void BlendChannel(const cv::Mat& transmission, int k, const float* smoothed, cv::Mat& dehazed,
                  int first, int end) {
  CV_Assert(transmission.isContinuous() && dehazed.isContinuous() && k >= 0 && k < 3);
  const size_t offset = static_cast<size_t>(first) * dehazed.cols;
  const size_t count = static_cast<size_t>(end - first) * dehazed.cols;
  const float* t_data = transmission.ptr<float>() + offset;
  float* values = dehazed.ptr<float>() + 3 * offset + k;
  for (size_t i = 0; i < count; ++i) {
    float& value = values[3 * i];
    value = (smoothed[i] - value) * BlendWeight(t_data[i]) + value;
  }
}

namespace {

// The luma of a pixel brighter than the airlight is kept; any other is restored.
inline float RestoreBelowAirlight(float y_a, float observed, float t) {
  return observed > y_a ? observed : Restore(y_a, observed, t);
}

}  // namespace

void RecoverPixelsNatural(const cv::Mat& transmission, const cv::Vec3f& airlight_ycrcb,
                          const float* smoothed_y, cv::Mat& dehazed, int first, int end) {
  CV_Assert(transmission.isContinuous() && dehazed.isContinuous());
  const float y_a = airlight_ycrcb[0];
  const float cr_a = airlight_ycrcb[1];
  const float cb_a = airlight_ycrcb[2];
  const size_t offset = static_cast<size_t>(first) * dehazed.cols;
  const size_t count = static_cast<size_t>(end - first) * dehazed.cols;
  const float* t_data = transmission.ptr<float>() + offset;
  const float* s_data = smoothed_y;
  float* pixels = dehazed.ptr<float>() + 3 * offset;
  for (size_t i = 0; i < count; ++i) {
    float* pixel = pixels + 3 * i;
    const float t = t_data[i];
    const float p = 1.25f * t;
    const float w = 1.0f > p ? p : 1.0f;
    const float cr_m = (1.0f - w) * pixel[1] + w * cr_a;
    const float cb_m = (1.0f - w) * pixel[2] + w * cb_a;
    const float restored_s = RestoreBelowAirlight(y_a, s_data[i], t);
    const float y = RestoreBelowAirlight(y_a, pixel[0], t);
    pixel[0] = (restored_s - y) * BlendWeight(t / 0.5f) + y;
    pixel[1] = Restore(cr_m, pixel[1], t);
    pixel[2] = Restore(cb_m, pixel[2], t);
  }
}

void BlendChannelNatural(const cv::Mat& transmission, int k, const float* smoothed,
                         cv::Mat& dehazed, int first, int end) {
  CV_Assert(transmission.isContinuous() && dehazed.isContinuous() && k >= 0 && k < 3);
  const size_t offset = static_cast<size_t>(first) * dehazed.cols;
  const size_t count = static_cast<size_t>(end - first) * dehazed.cols;
  const float* t_data = transmission.ptr<float>() + offset;
  float* values = dehazed.ptr<float>() + 3 * offset + k;
  for (size_t i = 0; i < count; ++i) {
    float& value = values[3 * i];
    value = (smoothed[i] - value) * BlendWeight(t_data[i] / 0.5f) + value;
  }
}

}  // namespace vantorel
