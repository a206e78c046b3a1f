// Dark channel, raw transmission, row-profile lift, smoothing scale and power step.
#include "imagedehaze/transmission_steps.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "filters/cpu_features.h"
#include "filters/image_channels.h"
#include "filters/parallel_for.h"

namespace vantorel {

namespace {

// Float constants used in double expressions keep their single-precision value.
constexpr double kHazeFraction = static_cast<double>(0.95f);  // 0.949999988079071
constexpr double kMinTransmission = 0.05;
constexpr double kFallFactor = 0.75;

// The order of the tests is part of the result. A ratio that is not a number (0 / 0) loses
// every comparison: in g or r it never wins, in b it is carried to the cap, which turns it
// into 1. Since the airlight estimate keeps every component positive, 0 / 0 does not arise
// in the pipeline; the rules alone keep the map free of NaN if it did.
float SmallestRatioCapped(const float* ratios) {
  const float b = ratios[0], g = ratios[1], r = ratios[2];
  float m = g < b ? g : b;
  m = r < m ? r : m;
  return m < 1.0f ? m : 1.0f;
}

// Pixels handled per step of the dark channel: their ratios fit in the first level cache.
constexpr size_t kDarkRun = 256;

// Eight samples divided lane by lane: each lane is the same division as on one float.
typedef float EightFloats __attribute__((vector_size(32)));

// ratios[j] = samples[j] / divisors[j] for j < count, eight at a time.
__attribute__((always_inline)) inline void DivideSamples(const float* samples, const float* divisors, float* ratios,
                                                         size_t count) {
  size_t j = 0;
  for (; j + 8 <= count; j += 8) {
    EightFloats a, b;
    std::memcpy(&a, samples + j, sizeof a);
    std::memcpy(&b, divisors + j, sizeof b);
    const EightFloats q = a / b;
    std::memcpy(ratios + j, &q, sizeof q);
  }
  for (; j < count; ++j) ratios[j] = samples[j] / divisors[j];
}

// The dark channel of pixels [begin, end), a run at a time: every sample divided by its
// component first (eight at a time, against the airlight repeated along the run), then the
// smallest ratio of each pixel. The same divisions and comparisons as pixel by pixel.
void DarkChannelOfRange(const float* pixels, const cv::Vec3f& airlight, float* dark, size_t begin, size_t end) {
  float divisors[3 * kDarkRun];
  float ratios[3 * kDarkRun];
  for (size_t i = 0; i < kDarkRun; ++i) {
    for (int c = 0; c < 3; ++c) divisors[3 * i + c] = airlight[c];
  }
  for (size_t at = begin; at < end; at += kDarkRun) {
    const size_t count = std::min(kDarkRun, end - at);
    const float* const samples = pixels + 3 * at;
    DivideSamples(samples, divisors, ratios, 3 * count);
    for (size_t i = 0; i < count; ++i) dark[at + i] = SmallestRatioCapped(ratios + 3 * i);
  }
}

// The ratio of every level's normalised value to each component: `level_count` for blue,
// then as many for green and for red. The same division as on a normalised sample, done
// once per level instead of once per sample.
std::vector<float> RatiosOfLevels(const float* values, size_t level_count, const cv::Vec3f& airlight) {
  std::vector<float> ratios(3 * level_count);
  float* const out = ratios.data();
  RunVectorised([&] {
    for (int c = 0; c < 3; ++c) {
      for (size_t s = 0; s < level_count; ++s) out[c * level_count + s] = values[s] / airlight[c];
    }
  });
  return ratios;
}

// The dark channel of the source's pixels [begin, end): each sample's ratio looked up by
// its level, then the smallest of each pixel.
template <typename Level>
void DarkChannelOfLevels(const Level* pixels, const std::vector<float>& ratios, float* dark, size_t begin,
                         size_t end) {
  const size_t level_count = ratios.size() / 3;
  const float* const blue = ratios.data();
  const float* const green = blue + level_count;
  const float* const red = green + level_count;
  for (size_t i = begin; i < end; ++i) {
    const Level* const pixel = pixels + 3 * i;
    const float pixel_ratios[3] = {blue[pixel[0]], green[pixel[1]], red[pixel[2]]};
    dark[i] = SmallestRatioCapped(pixel_ratios);
  }
}

template <typename Level>
void DarkChannelOfSource(const Level* pixels, const float* values, size_t count, const cv::Vec3f& airlight,
                         float* dark) {
  const std::vector<float> ratios = RatiosOfLevels(values, size_t{1} << (8 * sizeof(Level)), airlight);
  ParallelForRange(count, kPixelsPerTask, [&](size_t begin, size_t end) {
    RunVectorised([&] { DarkChannelOfLevels(pixels, ratios, dark, begin, end); });
  });
}

}  // namespace

float TransmissionExponent(float haze_thickness) {
  return static_cast<float>(0.9 * static_cast<double>(haze_thickness));
}

cv::Mat DarkChannel(const cv::Mat& normalized, const cv::Vec3f& airlight) {
  cv::Mat dark_channel;
  DarkChannel(normalized, airlight, dark_channel);
  return dark_channel;
}

void DarkChannel(const cv::Mat& normalized, const cv::Vec3f& airlight, cv::Mat& dark_channel) {
  CV_Assert(normalized.type() == CV_32FC3 && normalized.isContinuous());
  CV_Assert(!SharesMemory(dark_channel, normalized));
  dark_channel.create(normalized.rows, normalized.cols, CV_32FC1);
  CV_Assert(dark_channel.isContinuous());
  const float* pixels = normalized.ptr<float>(0);
  float* dark = dark_channel.ptr<float>(0);
  ParallelForRange(normalized.total(), kPixelsPerTask, [&](size_t begin, size_t end) {
    RunVectorised([&] { DarkChannelOfRange(pixels, airlight, dark, begin, end); });
  });
}

void DarkChannelFromSource(const cv::Mat& source_view, const cv::Mat& levels, const cv::Vec3f& airlight,
                           cv::Mat& dark_channel) {
  CV_Assert(source_view.isContinuous() && levels.type() == CV_32FC1 && levels.isContinuous());
  CV_Assert(!SharesMemory(dark_channel, source_view));
  dark_channel.create(source_view.rows, source_view.cols, CV_32FC1);
  CV_Assert(dark_channel.isContinuous());
  const float* values = levels.ptr<float>(0);
  float* dark = dark_channel.ptr<float>(0);
  if (source_view.type() == CV_8UC3) {
    CV_Assert(levels.total() == 256);
    DarkChannelOfSource(source_view.ptr<uint8_t>(0), values, source_view.total(), airlight, dark);
    return;
  }
  CV_Assert(source_view.type() == CV_16UC3 && levels.total() == 65536);
  DarkChannelOfSource(source_view.ptr<uint16_t>(0), values, source_view.total(), airlight, dark);
}

cv::Mat RawTransmission(const cv::Mat& dark_channel) {
  cv::Mat raw_transmission = dark_channel.clone();
  ToRawTransmission(raw_transmission);
  return raw_transmission;
}

void ToRawTransmission(cv::Mat& dark_channel) {
  // Library expressions, not a loop: the library's rounding is the reference. Both treat
  // every element on its own, in place.
  dark_channel = 1.0 - kHazeFraction * dark_channel;
  dark_channel = cv::max(kMinTransmission, dark_channel);
}

cv::Mat RowMeans(const cv::Mat& image) {
  cv::Mat row_mean;
  row_mean.create(image.rows, 1, CV_32FC1);
  RowMeansInto(image, row_mean);
  return row_mean;
}

void RowMeansInto(const cv::Mat& image, cv::Mat& row_mean) {
  for (int i = 0; i < image.rows; ++i) {
    row_mean.at<float>(i) = static_cast<float>(cv::mean(image.row(i))[0]);
  }
}

cv::Mat RawTransmissionAndRowMeans(cv::Mat dark_channel, cv::Mat& row_mean) {
  row_mean.create(dark_channel.rows, 1, CV_32FC1);
  ParallelForRowBands(dark_channel.rows, RowsPerTask(dark_channel.cols), [&](int first, int end) {
    cv::Mat band = dark_channel.rowRange(first, end);
    ToRawTransmission(band);
    CV_Assert(band.data == dark_channel.ptr(first));  // written in place
    cv::Mat means = row_mean.rowRange(first, end);
    RowMeansInto(band, means);
  });
  return dark_channel;
}

cv::Mat DampedRowProfile(const cv::Mat& row_mean) {
  cv::Mat row_profile;
  row_profile.create(row_mean.rows, 1, CV_32FC1);
  const float* mean = row_mean.ptr<float>(0);
  float* profile = row_profile.ptr<float>(0);
  profile[0] = mean[0];
  for (int i = 1; i < row_mean.rows; ++i) {
    const float d = mean[i] - mean[i - 1];
    const double step = d < 0.0f ? kFallFactor * static_cast<double>(d) : static_cast<double>(d);
    profile[i] = static_cast<float>(static_cast<double>(profile[i - 1]) + step);
  }
  return row_profile;
}

cv::Mat CapRowProfile(const cv::Mat& row_profile) {
  cv::Mat clamped_profile = cv::min(row_profile, 1.0);
  return clamped_profile;
}

void LiftTowardRowProfile(cv::Mat& raw_transmission, const cv::Mat& clamped_profile) {
  const float* profile = clamped_profile.ptr<float>(0);
  const int cols = raw_transmission.cols;
  ParallelForRowBands(raw_transmission.rows, RowsPerTask(cols), [&](int first, int end) {
    for (int y = first; y < end; ++y) {
      float* values = raw_transmission.ptr<float>(y);
      const float p = profile[y];
      for (int x = 0; x < cols; ++x) {
        const float v = values[x];
        const float c = (v + p) * 0.5f;
        values[x] = c > v ? c : v;
      }
    }
  });
}

double TransmissionSigmaS(int rows, int cols) {
  const float s = sqrtf(static_cast<float>(rows) * static_cast<float>(cols)) * 0.0625f;
  const float capped = 35.0f > s ? s : 35.0f;
  return static_cast<double>(capped);
}

// The library's power treats every element on its own, the same wherever it falls in the
// run it is given, so bands of rows give the values of the whole map.
void RaiseTransmission(cv::Mat& transmission, float exponent) {
  ParallelForRowBands(transmission.rows, RowsPerTask(transmission.cols), [&](int first, int end) {
    cv::Mat band = transmission.rowRange(first, end);
    cv::pow(band, static_cast<double>(exponent), band);
    CV_Assert(band.data == transmission.ptr(first));  // written in place
  });
}

}  // namespace vantorel
