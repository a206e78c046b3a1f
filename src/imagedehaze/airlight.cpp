// Atmospheric light: the mean colour of the pixels whose darkest channel is above the
// picture's average, pulled towards grey when strongly saturated, scaled to the maximum.
#include "imagedehaze/airlight.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "filters/cpu_features.h"
#include "imagedehaze/airlight_runs.h"
#include "imagedehaze/in_order_sum.h"

namespace vantorel {

namespace {

// Largest spread between the brightest and the darkest component that the colour keeps.
constexpr float kMaxSpread = 0.5f;

// Lowest value of a component in the fallback for pictures without a bright set: one 8-bit
// level of the normalised picture. It keeps the later divisions by the airlight finite.
constexpr float kFallbackFloor = 1.0f / 255.0f;

// The pixels the estimate reads, three samples each in B, G, R order, and the value each
// sample stands for: the normalised picture's floats as they are, or the source's levels
// through the table of their normalised values (NormalizedLevels). That table never
// decreases, so comparing levels orders their values alike: the smallest or largest level
// of a pixel gives its smallest or largest value, and a level's value is above a bound
// exactly when the level is above the last level whose value is not (Bar). Either way the
// chains below add the same floats in the same order.
struct NormalizedSamples {
  const float* pixels;
  float Value(float sample) const { return sample; }
  // `sample > Bar(bound)` exactly when `Value(sample) > bound`.
  float Bar(float bound) const { return bound; }
};

template <typename Level>
struct LevelSamples {
  const Level* pixels;
  const float* values;  // of every level
  size_t level_count;
  // For byte levels whose values are all level x scale (ByteLevelScale), that scale: the
  // sums can then be worked out eight pixels at a time. Otherwise 0.
  float scale = 0.0f;
  float Value(Level sample) const { return values[sample]; }
  // The last level whose value is not above `bound`, -1 when there is none.
  int Bar(float bound) const {
    return static_cast<int>(std::upper_bound(values, values + level_count, bound) - values) - 1;
  }
};

template <typename Sample>
Sample SmallestChannel(const Sample* pixel) {
  Sample m = pixel[0] < pixel[1] ? pixel[0] : pixel[1];
  return m < pixel[2] ? m : pixel[2];
}

// The single-precision mean of the pixels' smallest channels, summed in pixel order, and
// in the same pass the largest sample of the picture. The maximum is exact in any order, so
// each channel keeps its own: three short chains beside the sum's long one instead of one
// chain three times as long.
template <typename Samples>
float MeanOfMinima(const Samples& samples, int count, float& largest) {
  const auto* pixels = samples.pixels;
  float sum = 0.0f;
  auto top0 = pixels[0], top1 = pixels[1], top2 = pixels[2];
  for (int i = 0; i < count; ++i) {
    const auto* pixel = pixels + 3 * i;
    sum += samples.Value(SmallestChannel(pixel));
    top0 = pixel[0] > top0 ? pixel[0] : top0;
    top1 = pixel[1] > top1 ? pixel[1] : top1;
    top2 = pixel[2] > top2 ? pixel[2] : top2;
  }
  const auto m = top0 > top1 ? top0 : top1;
  largest = samples.Value(m > top2 ? m : top2);
  return sum / static_cast<float>(count);
}

// `sample` where `keep` has all bits set, +0 where it has none.
float KeptOrZero(float sample, uint32_t keep) {
  uint32_t bits;
  std::memcpy(&bits, &sample, sizeof bits);
  bits &= keep;
  std::memcpy(&sample, &bits, sizeof bits);
  return sample;
}

// Mean colour of the pixels whose smallest channel is strictly above `mean`; `bright`
// receives their count. With a count of 0 the colour has no meaning and is left at 0. The
// smallest channels are worked out again rather than kept: cheaper than a full-size map.
// Every pixel adds to the sums, a dark one 0: the sums are of non-negative samples from
// +0, so adding 0 leaves them as they are, and no branch depends on the picture's content.
template <typename Samples>
cv::Vec3f BrightMeanColour(const Samples& samples, int count, float mean, int& bright) {
  float sum0 = 0.0f, sum1 = 0.0f, sum2 = 0.0f;
  int members = 0;
  const auto bar = samples.Bar(mean);
  for (int i = 0; i < count; ++i) {
    const auto* pixel = samples.pixels + 3 * i;
    const bool member = SmallestChannel(pixel) > bar;
    const uint32_t keep = 0u - static_cast<uint32_t>(member);
    sum0 += KeptOrZero(samples.Value(pixel[0]), keep);
    sum1 += KeptOrZero(samples.Value(pixel[1]), keep);
    sum2 += KeptOrZero(samples.Value(pixel[2]), keep);
    members += member ? 1 : 0;
  }
  bright = members;
  if (bright == 0) return cv::Vec3f(0.0f, 0.0f, 0.0f);
  const float n = static_cast<float>(bright);
  return cv::Vec3f(sum0 / n, sum1 / n, sum2 / n);
}

// The same two estimates of byte levels, with AVX2 and a scale: a stretch of pixels at a
// time, their values worked out eight at a time into buffers, then each buffer added to
// its sum at once (AddEachInFloat), bit for bit as the chains above add them.
constexpr int kStretch = 512;

bool WorksInStretches(const LevelSamples<uint8_t>& samples) { return samples.scale != 0.0f && HasAvx2(); }

float MeanOfMinima(const LevelSamples<uint8_t>& samples, int count, float& largest) {
  if (!WorksInStretches(samples)) return MeanOfMinima<LevelSamples<uint8_t>>(samples, count, largest);
  uint8_t tops[3] = {samples.pixels[0], samples.pixels[1], samples.pixels[2]};
  float minima[kStretch];
  float sum = 0.0f;
  for (int first = 0; first < count; first += kStretch) {
    const int stretch = std::min(kStretch, count - first);
    ByteMinimaAvx2(samples.pixels + 3 * static_cast<size_t>(first), stretch, samples.scale, minima, tops);
    sum = AddEachInFloat(minima, static_cast<size_t>(stretch), sum);
  }
  const uint8_t m = tops[0] > tops[1] ? tops[0] : tops[1];
  largest = samples.Value(m > tops[2] ? m : tops[2]);
  return sum / static_cast<float>(count);
}

cv::Vec3f BrightMeanColour(const LevelSamples<uint8_t>& samples, int count, float mean, int& bright) {
  if (!WorksInStretches(samples)) return BrightMeanColour<LevelSamples<uint8_t>>(samples, count, mean, bright);
  float buffers[3][kStretch];
  float* const colours[3] = {buffers[0], buffers[1], buffers[2]};
  float sums[3] = {0.0f, 0.0f, 0.0f};
  int members = 0;
  const int bar = samples.Bar(mean);
  for (int first = 0; first < count; first += kStretch) {
    const int stretch = std::min(kStretch, count - first);
    members += ByteBrightColoursAvx2(samples.pixels + 3 * static_cast<size_t>(first), stretch, bar, samples.scale,
                                     colours);
    for (int c = 0; c < 3; ++c) sums[c] = AddEachInFloat(colours[c], static_cast<size_t>(stretch), sums[c]);
  }
  bright = members;
  if (bright == 0) return cv::Vec3f(0.0f, 0.0f, 0.0f);
  const float n = static_cast<float>(bright);
  return cv::Vec3f(sums[0] / n, sums[1] / n, sums[2] / n);
}

template <typename Samples>
cv::Vec3f MeanColour(const Samples& samples, int count) {
  const auto* pixels = samples.pixels;
  cv::Vec3f colour(0.0f, 0.0f, 0.0f);
  for (int i = 0; i < count; ++i) {
    colour[0] += samples.Value(pixels[3 * i]);
    colour[1] += samples.Value(pixels[3 * i + 1]);
    colour[2] += samples.Value(pixels[3 * i + 2]);
  }
  const float n = static_cast<float>(count);
  colour[0] /= n;
  colour[1] /= n;
  colour[2] /= n;
  return colour;
}

float Largest(const cv::Vec3f& c) {
  const float m = c[0] > c[1] ? c[0] : c[1];
  return m > c[2] ? m : c[2];
}

float Smallest(const cv::Vec3f& c) {
  const float m = c[0] < c[1] ? c[0] : c[1];
  return m < c[2] ? m : c[2];
}

// Shrinks a spread above kMaxSpread to exactly kMaxSpread around the components' mean.
void LimitSaturation(cv::Vec3f& colour, float hi, float lo) {
  if (!(hi - lo > kMaxSpread)) return;
  const float k = kMaxSpread / (hi - lo);
  const float avg = ((colour[0] + colour[1]) + colour[2]) / 3.0f;
  const float shift = (1.0f - k) * avg;
  for (int c = 0; c < 3; ++c) colour[c] = k * colour[c] + shift;
}

// Scales by the picture's maximum over the colour's largest component before desaturation.
void ScaleToMaximum(cv::Vec3f& colour, float hi, double maximum) {
  for (int c = 0; c < 3; ++c) colour[c] = static_cast<float>(static_cast<double>(colour[c] / hi) * maximum);
}

cv::Vec3f LimitAndScale(cv::Vec3f colour, double maximum) {
  const float hi = Largest(colour);
  LimitSaturation(colour, hi, Smallest(colour));
  ScaleToMaximum(colour, hi, maximum);
  return colour;
}

// No pixel is brighter than the average: every pixel has the same darkest value, or one
// channel is 0 everywhere. The whole picture stands in for the bright set. The floor is
// needed only here: a component of 0 (a channel that is 0 in every pixel) or a picture
// without light (0 / 0) would otherwise reach the divisions by the airlight. Written as a
// positive test so that a NaN component is floored too.
template <typename Samples>
cv::Vec3f FallbackAirlight(const Samples& samples, int count, double maximum) {
  cv::Vec3f colour = LimitAndScale(MeanColour(samples, count), maximum);
  for (int c = 0; c < 3; ++c) colour[c] = colour[c] > kFallbackFloor ? colour[c] : kFallbackFloor;
  return colour;
}

// With a non-empty bright set every component is positive and needs no floor: a bright
// pixel's darkest channel is above a mean of non-negative values, so all its channels are
// positive, and neither the desaturation (towards a positive average) nor the scaling (by
// maximum / hi >= 1) can bring a component down to 0.
template <typename Samples>
cv::Vec3f AirlightOf(const Samples& samples, int count) {
  float largest = 0.0f;
  const float mean = MeanOfMinima(samples, count, largest);
  const double maximum = largest;

  int bright = 0;
  const cv::Vec3f colour = BrightMeanColour(samples, count, mean, bright);
  if (bright == 0) return FallbackAirlight(samples, count, maximum);
  return LimitAndScale(colour, maximum);
}

}  // namespace

cv::Vec3f EstimateAirlightCPU(const cv::Mat& img) {
  CV_Assert(img.type() == CV_32FC3 && img.isContinuous());
  return AirlightOf(NormalizedSamples{img.ptr<float>(0)}, img.rows * img.cols);
}

cv::Vec3f EstimateAirlightFromSource(const cv::Mat& source_view, const cv::Mat& levels) {
  CV_Assert(source_view.isContinuous() && levels.type() == CV_32FC1 && levels.isContinuous());
  const int count = source_view.rows * source_view.cols;
  const float* values = levels.ptr<float>(0);
  if (source_view.type() == CV_8UC3) {
    CV_Assert(levels.total() == 256);
    LevelSamples<uint8_t> samples{source_view.ptr<uint8_t>(0), values, 256};
    samples.scale = ByteLevelScale(values);
    return AirlightOf(samples, count);
  }
  CV_Assert(source_view.type() == CV_16UC3 && levels.total() == 65536);
  return AirlightOf(LevelSamples<uint16_t>{source_view.ptr<uint16_t>(0), values, 65536}, count);
}

}  // namespace vantorel
