// The per-pixel loops of the radiance recovery. All arithmetic is single precision, in the
// order written; the images are continuous and walked with one running index.
#include "imagedehaze/recovery_loops.h"

#include <cstring>

#include <opencv2/imgproc.hpp>

#include "filters/cpu_features.h"
#include "filters/parallel_for.h"

namespace vantorel {

namespace {

// The loops' formulas are written once for a float and for eight floats in vector lanes
// (each lane computes exactly what the same expression does on one float): the runs of
// eight pixels and the leftover pixels give the same bits.
typedef float EightFloats __attribute__((vector_size(32)));

// x in every lane (x - +0 is x itself, -0 and NaN included).
template <typename V>
inline V Splat(float x) {
  return x - V{};
}

// Upper bound first, then lower: a value that is not a number ends as 1.
template <typename V>
inline V ClampToUnit(V v) {
  const V one = Splat<V>(1.0f), zero = Splat<V>(0.0f);
  const V u = one > v ? v : one;
  return u > zero ? u : zero;
}

// Scattering model solved for the scene value: the reference minus the difference to it,
// amplified by 1 / t. No guard against t = 0: the clamp settles the infinities.
template <typename V>
inline V Restore(V reference, V observed, V t) {
  return ClampToUnit<V>(reference - (reference - observed) / t);
}

// How far a pixel is pulled toward its smoothed value: fully at t = 0, not at all from
// t = 2/3. Lower bound first, so a NaN t gives a full blend.
template <typename V>
inline V BlendWeight(V t) {
  const V one = Splat<V>(1.0f), zero = Splat<V>(0.0f);
  const V q = Splat<V>(1.5f) * t;
  const V c = q > zero ? (one > q ? q : one) : zero;
  return one - c;
}

// The luma of a pixel brighter than the airlight is kept; any other is restored.
template <typename V>
inline V RestoreBelowAirlight(V y_a, V observed, V t) {
  return observed > y_a ? observed : Restore<V>(y_a, observed, t);
}

// One pixel's (or eight pixels') luma and chroma restored against the airlight, and the
// luma blended toward the smoothed luma restored the same way. The natural look keeps a
// luma above the airlight's and reads t / 0.5 for the blend.
template <bool kNatural, typename V>
inline void RecoverValues(const cv::Vec3f& airlight_ycrcb, V t, V smoothed, V& y, V& cr, V& cb) {
  const V y_a = Splat<V>(airlight_ycrcb[0]);
  const V cr_a = Splat<V>(airlight_ycrcb[1]);
  const V cb_a = Splat<V>(airlight_ycrcb[2]);
  const V one = Splat<V>(1.0f);
  // Chroma is restored against a reference that moves from the pixel's own chroma
  // toward the airlight's as t rises; from t = 0.8 on it is the airlight's, as for luma.
  const V p = Splat<V>(1.25f) * t;
  const V w = one > p ? p : one;
  const V cr_m = (one - w) * cr + w * cr_a;
  const V cb_m = (one - w) * cb + w * cb_a;
  if constexpr (kNatural) {
    const V restored_s = RestoreBelowAirlight<V>(y_a, smoothed, t);
    const V restored_y = RestoreBelowAirlight<V>(y_a, y, t);
    y = (restored_s - restored_y) * BlendWeight<V>(t / Splat<V>(0.5f)) + restored_y;
  } else {
    const V restored_s = Restore<V>(y_a, smoothed, t);
    const V restored_y = Restore<V>(y_a, y, t);
    y = (restored_s - restored_y) * BlendWeight<V>(t) + restored_y;
  }
  cr = Restore<V>(cr_m, cr, t);
  cb = Restore<V>(cb_m, cb, t);
}

// The pixels [0, count) of a run of rows: eight at a time, their channels gathered into
// lanes and scattered back, then the leftovers one by one.
template <bool kNatural>
inline void RecoverRun(const cv::Vec3f& airlight_ycrcb, const float* t, const float* smoothed, float* pixels,
                       size_t count) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    EightFloats lanes_t, lanes_s, y, cr, cb;
    std::memcpy(&lanes_t, t + i, sizeof lanes_t);
    std::memcpy(&lanes_s, smoothed + i, sizeof lanes_s);
    const float* in = pixels + 3 * i;
    for (int k = 0; k < 8; ++k) {
      y[k] = in[3 * k];
      cr[k] = in[3 * k + 1];
      cb[k] = in[3 * k + 2];
    }
    RecoverValues<kNatural>(airlight_ycrcb, lanes_t, lanes_s, y, cr, cb);
    float* out = pixels + 3 * i;
    for (int k = 0; k < 8; ++k) {
      out[3 * k] = y[k];
      out[3 * k + 1] = cr[k];
      out[3 * k + 2] = cb[k];
    }
  }
  for (; i < count; ++i) {
    float* pixel = pixels + 3 * i;
    RecoverValues<kNatural>(airlight_ycrcb, t[i], smoothed[i], pixel[0], pixel[1], pixel[2]);
  }
}

template <bool kNatural>
void RecoverRows(const cv::Mat& transmission, const cv::Vec3f& airlight_ycrcb, const float* smoothed_y,
                 cv::Mat& dehazed, int first, int end) {
  CV_Assert(transmission.isContinuous() && dehazed.isContinuous());
  const size_t offset = static_cast<size_t>(first) * dehazed.cols;
  const size_t count = static_cast<size_t>(end - first) * dehazed.cols;
  const float* t_data = transmission.ptr<float>() + offset;
  float* pixels = dehazed.ptr<float>() + 3 * offset;
  RunVectorised([&] { RecoverRun<kNatural>(airlight_ycrcb, t_data, smoothed_y, pixels, count); });
}

// One channel's value (or eight) pulled toward its smoothed value by the blend weight of
// t; the natural look reads t / 0.5.
template <bool kNatural, typename V>
inline V BlendValue(V t, V smoothed, V value) {
  const V weight = kNatural ? BlendWeight<V>(t / Splat<V>(0.5f)) : BlendWeight<V>(t);
  return (smoothed - value) * weight + value;
}

// Channel k of rows [first, end), eight pixels at a time as RecoverRun, then the leftovers.
template <bool kNatural>
void BlendRows(const cv::Mat& transmission, int k, const float* smoothed, cv::Mat& dehazed, int first, int end) {
  CV_Assert(transmission.isContinuous() && dehazed.isContinuous() && k >= 0 && k < 3);
  const size_t offset = static_cast<size_t>(first) * dehazed.cols;
  const size_t count = static_cast<size_t>(end - first) * dehazed.cols;
  const float* t = transmission.ptr<float>() + offset;
  float* values = dehazed.ptr<float>() + 3 * offset + k;
  RunVectorised([&] {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
      EightFloats lanes_t, lanes_s, value;
      std::memcpy(&lanes_t, t + i, sizeof lanes_t);
      std::memcpy(&lanes_s, smoothed + i, sizeof lanes_s);
      for (int j = 0; j < 8; ++j) value[j] = values[3 * (i + j)];
      value = BlendValue<kNatural>(lanes_t, lanes_s, value);
      for (int j = 0; j < 8; ++j) values[3 * (i + j)] = value[j];
    }
    for (; i < count; ++i) values[3 * i] = BlendValue<kNatural>(t[i], smoothed[i], values[3 * i]);
  });
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
  RecoverRows<false>(transmission, airlight_ycrcb, smoothed_y, dehazed, first, end);
}

void BlendChannel(const cv::Mat& transmission, int k, const float* smoothed, cv::Mat& dehazed,
                  int first, int end) {
  BlendRows<false>(transmission, k, smoothed, dehazed, first, end);
}

void RecoverPixelsNatural(const cv::Mat& transmission, const cv::Vec3f& airlight_ycrcb,
                          const float* smoothed_y, cv::Mat& dehazed, int first, int end) {
  RecoverRows<true>(transmission, airlight_ycrcb, smoothed_y, dehazed, first, end);
}

void BlendChannelNatural(const cv::Mat& transmission, int k, const float* smoothed,
                         cv::Mat& dehazed, int first, int end) {
  BlendRows<true>(transmission, k, smoothed, dehazed, first, end);
}

}  // namespace vantorel
