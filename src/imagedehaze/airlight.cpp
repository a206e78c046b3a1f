// Atmospheric light: the mean colour of the pixels whose darkest channel is above the
// picture's average, pulled towards grey when strongly saturated, scaled to the maximum.
#include "imagedehaze/airlight.h"

#include <cstdint>
#include <cstring>

namespace vantorel {

namespace {

// Largest spread between the brightest and the darkest component that the colour keeps.
constexpr float kMaxSpread = 0.5f;

// Lowest value of a component in the fallback for pictures without a bright set: one 8-bit
// level of the normalised picture. It keeps the later divisions by the airlight finite.
constexpr float kFallbackFloor = 1.0f / 255.0f;

float SmallestChannel(const float* pixel) {
  float m = pixel[0] < pixel[1] ? pixel[0] : pixel[1];
  return m < pixel[2] ? m : pixel[2];
}

// The single-precision mean of the pixels' smallest channels, summed in pixel order, and
// in the same pass the largest sample of the picture. The maximum is exact in any order, so
// each channel keeps its own: three short chains beside the sum's long one instead of one
// chain three times as long.
float MeanOfMinima(const float* pixels, int count, float& largest) {
  float sum = 0.0f;
  float top0 = pixels[0], top1 = pixels[1], top2 = pixels[2];
  for (int i = 0; i < count; ++i) {
    const float* pixel = pixels + 3 * i;
    sum += SmallestChannel(pixel);
    top0 = pixel[0] > top0 ? pixel[0] : top0;
    top1 = pixel[1] > top1 ? pixel[1] : top1;
    top2 = pixel[2] > top2 ? pixel[2] : top2;
  }
  const float m = top0 > top1 ? top0 : top1;
  largest = m > top2 ? m : top2;
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
cv::Vec3f BrightMeanColour(const float* pixels, int count, float mean, int& bright) {
  float sum0 = 0.0f, sum1 = 0.0f, sum2 = 0.0f;
  int members = 0;
  for (int i = 0; i < count; ++i) {
    const float* pixel = pixels + 3 * i;
    const bool member = SmallestChannel(pixel) > mean;
    const uint32_t keep = 0u - static_cast<uint32_t>(member);
    sum0 += KeptOrZero(pixel[0], keep);
    sum1 += KeptOrZero(pixel[1], keep);
    sum2 += KeptOrZero(pixel[2], keep);
    members += member ? 1 : 0;
  }
  bright = members;
  if (bright == 0) return cv::Vec3f(0.0f, 0.0f, 0.0f);
  const float n = static_cast<float>(bright);
  return cv::Vec3f(sum0 / n, sum1 / n, sum2 / n);
}

cv::Vec3f MeanColour(const float* pixels, int count) {
  cv::Vec3f colour(0.0f, 0.0f, 0.0f);
  for (int i = 0; i < count; ++i) {
    colour[0] += pixels[3 * i];
    colour[1] += pixels[3 * i + 1];
    colour[2] += pixels[3 * i + 2];
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
cv::Vec3f FallbackAirlight(const float* pixels, int count, double maximum) {
  cv::Vec3f colour = LimitAndScale(MeanColour(pixels, count), maximum);
  for (int c = 0; c < 3; ++c) colour[c] = colour[c] > kFallbackFloor ? colour[c] : kFallbackFloor;
  return colour;
}

}  // namespace

// With a non-empty bright set every component is positive and needs no floor: a bright
// pixel's darkest channel is above a mean of non-negative values, so all its channels are
// positive, and neither the desaturation (towards a positive average) nor the scaling (by
// maximum / hi >= 1) can bring a component down to 0.
cv::Vec3f EstimateAirlightCPU(const cv::Mat& img) {
  const int count = img.rows * img.cols;
  const float* pixels = img.ptr<float>(0);
  float largest = 0.0f;
  const float mean = MeanOfMinima(pixels, count, largest);
  const double maximum = largest;

  int bright = 0;
  const cv::Vec3f colour = BrightMeanColour(pixels, count, mean, bright);
  if (bright == 0) return FallbackAirlight(pixels, count, maximum);
  return LimitAndScale(colour, maximum);
}

}  // namespace vantorel
