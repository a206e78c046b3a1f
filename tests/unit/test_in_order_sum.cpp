// Float sums worked out a stretch at a time, of double terms (each addition rounded back to
// float) and of float terms: bit for bit the float the one-at-a-time loop leaves, on the
// plain and the vector code, where the shortcut holds and wherever it must give way
// (binade edges, ties, NaN).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "imagedehaze/in_order_sum.h"

namespace vantorel {
namespace {

float OneAtATime(const std::vector<double>& terms, float sum) {
  for (const double term : terms) sum = static_cast<float>(term + static_cast<double>(sum));
  return sum;
}

float OneAtATime(const std::vector<float>& terms, float sum) {
  for (const float term : terms) sum += term;
  return sum;
}



uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Against the loop; a NaN must be the loop's NaN, and -0 is not 0. Double terms on both
// codes; float terms have only the vector code (without AVX2 they are the loop itself).
void ExpectSameAsOneAtATime(const std::vector<double>& terms, float sum, const std::string& where) {
  const uint32_t expected = Bits(OneAtATime(terms, sum));
  EXPECT_EQ(Bits(AddEachRoundedToFloat(terms.data(), terms.size(), sum)), expected) << where << ", vector code";
  EXPECT_EQ(Bits(AddEachRoundedToFloat(terms.data(), terms.size(), sum, false)), expected) << where << ", plain code";
}

void ExpectSameAsOneAtATime(const std::vector<float>& terms, float sum, const std::string& where) {
  EXPECT_EQ(Bits(AddEachInFloat(terms.data(), terms.size(), sum)), Bits(OneAtATime(terms, sum))) << where;
}

// The double terms as they are, and rounded to float for the float sum.
void ExpectBothSumsAsOneAtATime(const std::vector<double>& terms, float sum, const std::string& where) {
  ExpectSameAsOneAtATime(terms, sum, where + ", double terms");
  ExpectSameAsOneAtATime(std::vector<float>(terms.begin(), terms.end()), sum, where + ", float terms");
}

// Logarithms of luminance, as the tone statistics add them, from a sum of 0 through every
// binade up to millions, at counts on either side of the stretches and the vector rounds.
TEST(InOrderSum, LogarithmsOfLuminanceAddAsOneAtATime) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> luminance(0.0f, 1.0f);
  for (const std::size_t count : {0, 1, 7, 8, 9, 511, 512, 513, 4099, 3000000}) {
    std::vector<double> terms(count);
    for (double& term : terms) term = std::log(static_cast<double>(luminance(random)) + 0.0001);
    ExpectSameAsOneAtATime(terms, 0.0f, std::to_string(count) + " logarithms");
    // Normalised samples, as the airlight adds them.
    std::vector<float> samples(count);
    for (float& sample : samples) sample = luminance(random);
    ExpectSameAsOneAtATime(samples, 0.0f, std::to_string(count) + " samples");
    // Bright pictures: logarithms near 0 and above it, so the sum also shrinks for a while.
    for (double& term : terms) term = term * 0.001 + 0.00002;
    ExpectBothSumsAsOneAtATime(terms, 5000.0f, std::to_string(count) + " small terms of both signs");
  }
}

// Sums that start next to either end of a binade, terms near multiples of a quarter of its
// float spacing (so that steps round either way, cross the ends or land on them) and exact
// ties between two floats, in short runs of both signs: the stretches that may be added at
// once and those that may not, decided by a spacing or less.
TEST(InOrderSum, BinadeEndsAndTiesAddAsOneAtATime) {
  std::mt19937 random(11);
  const int exponents[] = {1, 3, 10, 20, 24, 30};
  for (int trial = 0; trial < 40000; ++trial) {
    const int exponent = exponents[trial % 6];
    const double low = std::ldexp(1.0, exponent), spacing = std::ldexp(1.0, exponent - 23);
    const int from_end = static_cast<int>(random() % 5);
    const double start = (trial / 6) % 2 == 0 ? low + from_end * spacing : 2.0 * low - (from_end + 1) * spacing;
    const float sum = static_cast<float>((trial / 12) % 2 == 0 ? start : -start);
    std::vector<double> terms(1 + random() % 20);
    for (double& term : terms) {
      const double quarters = static_cast<double>(static_cast<int>(random() % 17) - 8) * 0.25 * spacing;
      switch (random() % 5) {
        case 0: term = quarters; break;  // halves are ties
        case 1: term = quarters + spacing * 1e-9; break;   // next to a tie in double,
        case 2: term = std::nextafter(static_cast<float>(quarters), 1e30f); break;  // and in float
        case 3: term = std::nextafter(static_cast<float>(quarters), -1e30f); break;
        default: term = quarters * 0.01; break;  // steps of 0
      }
    }
    ExpectBothSumsAsOneAtATime(terms, sum, "trial " + std::to_string(trial));
  }
}

// A long run where every stretch but some has an exact tie, at a different place in each
// (a vector lane, a second set of lanes, the remainder, the last term).
TEST(InOrderSum, ATieAnywhereInAStretchAddsAsOneAtATime) {
  const float start = 3.0f * 1048576.0f;  // spacing 0.25, so 0.125 is a tie
  for (const std::size_t place : {0, 3, 4, 7, 8, 255, 508, 511}) {
    std::vector<double> terms(4 * 512 + 5, 0.3);
    for (std::size_t stretch = 0; stretch < 4; ++stretch) terms[stretch * 512 + place] = 0.125;
    terms.back() = -0.375;
    ExpectBothSumsAsOneAtATime(terms, start, "tie at " + std::to_string(place));
  }
}

// NaN, the infinities, huge and subnormal terms, and starting sums that are NaN, infinite,
// zero of either sign, subnormal or below 1.
TEST(InOrderSum, SpecialValuesAddAsOneAtATime) {
  const double inf = std::numeric_limits<double>::infinity();
  const double specials[] = {NAN, inf, -inf, 1e300, -1e300, 4.9e-324, -0.0, 1e30, -3.5e38};
  const float sums[] = {0.0f, -0.0f, 1e-40f, 0.5f, -0.75f, 1e6f, NAN, std::numeric_limits<float>::infinity(), 3e38f};
  std::mt19937 random(3);
  std::uniform_real_distribution<double> spread(-10.0, 2.0);
  for (const double special : specials) {
    for (const float sum : sums) {
      for (const std::size_t place : {0, 5, 9, 700, 1029}) {
        std::vector<double> terms(1030);
        for (double& term : terms) term = spread(random);
        terms[place] = special;
        ExpectBothSumsAsOneAtATime(terms, sum, "special " + std::to_string(special) + " at " + std::to_string(place) +
                                               " from " + std::to_string(sum));
      }
    }
  }
}

}  // namespace
}  // namespace vantorel
