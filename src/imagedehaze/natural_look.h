// The natural look's settings. Its smoothing sizes and windows follow the picture's
// shorter side, so that a small and a large copy of one scene come out alike.
#pragma once

namespace vantorel {

// Spatial size of the natural look's three edge-aware smoothings (transmission, recovered
// luma, recovered chroma): 35 pixels per 500 of the shorter side, in single precision,
// widened.
double NaturalSmoothingSigma(int rows, int cols);

// Side of the square over which the dark channel takes its minimum: 2 * (m / 64) + 1.
int NaturalErosionSize(int rows, int cols);

// Side of the window of the luma's local mean and spread: 2 * (m / 100) + 1.
int NaturalTextureWindow(int rows, int cols);

// Side of the window that spreads the flatness weight: 2 * (m / 25) + 1.
int NaturalFlatnessWindow(int rows, int cols);

// Exponent of the power step: thickness / 0.9 in double, rounded to float, so that
// thickness 0.9 leaves the smoothed map as it is.
float NaturalTransmissionExponent(float haze_thickness);

}  // namespace vantorel
