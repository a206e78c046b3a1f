#include "imagedehaze/tone_apply.h"

namespace vantorel {

void ApplyToneTable(const ToneCurve& curve, cv::Mat& image) {
  const int samples = image.cols * image.channels();
  if (!curve.deep_table.empty()) {
    const float largest_level = static_cast<float>(curve.deep_levels - 1);
    for (int y = 0; y < image.rows; ++y) {
      float* row = image.ptr<float>(y);
      for (int i = 0; i < samples; ++i) row[i] = curve.deep_table[DeepToneLevel(row[i], largest_level, curve.deep_top)];
    }
    return;
  }
  for (int y = 0; y < image.rows; ++y) {
    float* row = image.ptr<float>(y);
    for (int i = 0; i < samples; ++i) row[i] = curve.table[ToneLevel(row[i], curve.top)];
  }
}

void MixInputChroma(const cv::Mat& input_ycrcb, cv::Mat& toned_ycrcb) {
  for (int y = 0; y < toned_ycrcb.rows; ++y) {
    const float* in = input_ycrcb.ptr<float>(y);
    float* out = toned_ycrcb.ptr<float>(y);
    for (int i = 0; i < toned_ycrcb.cols * 3; i += 3) {
      out[i + 1] = static_cast<float>(0.5 * static_cast<double>(in[i + 1]) + 0.5 * static_cast<double>(out[i + 1]));
      out[i + 2] = static_cast<float>(0.5 * static_cast<double>(in[i + 2]) + 0.5 * static_cast<double>(out[i + 2]));
    }
  }
}

void TakeInputChroma(const cv::Mat& input_ycrcb, cv::Mat& toned_ycrcb) {
  for (int y = 0; y < toned_ycrcb.rows; ++y) {
    const float* in = input_ycrcb.ptr<float>(y);
    float* out = toned_ycrcb.ptr<float>(y);
    for (int i = 0; i < toned_ycrcb.cols * 3; i += 3) {
      out[i + 1] = in[i + 1];
      out[i + 2] = in[i + 2];
    }
  }
}

}  // namespace vantorel
