#include "imagedehaze/natural_look.h"

#include <algorithm>

namespace vantorel {

namespace {

// The shorter side; the windows use it in integer arithmetic.
int ShorterSide(int rows, int cols) { return std::min(rows, cols); }

}  // namespace

double NaturalSmoothingSigma(int rows, int cols) {
  const float sigma = 35.0f * static_cast<float>(ShorterSide(rows, cols)) / 500.0f;
  return static_cast<double>(sigma);
}

int NaturalErosionSize(int rows, int cols) { return 2 * (ShorterSide(rows, cols) / 64) + 1; }

int NaturalTextureWindow(int rows, int cols) { return 2 * (ShorterSide(rows, cols) / 100) + 1; }

int NaturalFlatnessWindow(int rows, int cols) { return 2 * (ShorterSide(rows, cols) / 25) + 1; }

float NaturalTransmissionExponent(float haze_thickness) {
  return static_cast<float>(static_cast<double>(haze_thickness) / 0.9);
}

}  // namespace vantorel
