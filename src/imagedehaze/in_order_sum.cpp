// One addition after another costs a conversion, an addition and a conversion back on the
// chain for every term. But while the running sum stays inside one binade of floats, every
// step is a shift of the sum by a whole number of the binade's float spacings, and that
// number does not depend on where in the binade the sum is, only on the term, unless the
// double result lies exactly halfway between two floats (then the tie goes to the even one,
// which depends on the sum). So a stretch of terms whose steps, added up in magnitude, keep
// every partial sum well inside the binade, and none of which is a tie, moves the sum by
// the steps' total: each step is measured against a fixed sum in the middle of the binade,
// and the steps, all multiples of one spacing, add exactly in any order. Any other stretch
// (a binade crossed, a tie, a NaN or an infinity, a sum below 1) is added one term at a time.
#include "imagedehaze/in_order_sum.h"

#include <immintrin.h>

#include <cmath>

#include "filters/cpu_features.h"

namespace vantorel {

namespace {

constexpr std::size_t kStretch = 512;

float AddOneAtATime(const double* terms, std::size_t count, float sum) {
  for (std::size_t i = 0; i < count; ++i) sum = static_cast<float>(terms[i] + static_cast<double>(sum));
  return sum;
}

// What a stretch's steps add up to, measured against `middle`, a float in the middle of the
// sum's binade: each term's step is float(term + middle) - middle, the addition rounded to
// double as the chain's is. `moved` is their sum, `travel` the sum of their magnitudes, and
// `tie` is set when a term's double result lies halfway between two floats.
struct Steps {
  double moved = 0.0;
  double travel = 0.0;
  bool tie = false;
};

__attribute__((always_inline)) inline void AddStep(double term, double middle, double half_spacing, Steps& steps) {
  const double exact = term + middle;
  const double rounded = static_cast<float>(exact);
  const double step = rounded - middle;  // exact: both lie in one binade or next to it
  steps.moved += step;
  steps.travel += std::fabs(step);
  steps.tie |= std::fabs(exact - rounded) == half_spacing;
}

Steps StepsPlain(const double* terms, std::size_t count, double middle, double half_spacing) {
  Steps steps;
  for (std::size_t i = 0; i < count; ++i) AddStep(terms[i], middle, half_spacing, steps);
  return steps;
}

// Eight terms a round in two sets of four lanes, so that no sum waits on its last addition.
__attribute__((target("avx2"))) Steps StepsAvx2(const double* terms, std::size_t count, double middle,
                                                 double half_spacing) {
  const __m256d mid = _mm256_set1_pd(middle), half = _mm256_set1_pd(half_spacing);
  const __m256d sign = _mm256_set1_pd(-0.0);
  __m256d moved[2] = {_mm256_setzero_pd(), _mm256_setzero_pd()};
  __m256d travelled[2] = {_mm256_setzero_pd(), _mm256_setzero_pd()};
  __m256d ties = _mm256_setzero_pd();
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    for (int set = 0; set < 2; ++set) {
      const __m256d exact = _mm256_add_pd(_mm256_loadu_pd(terms + i + 4 * set), mid);
      const __m256d rounded = _mm256_cvtps_pd(_mm256_cvtpd_ps(exact));
      const __m256d step = _mm256_sub_pd(rounded, mid);
      moved[set] = _mm256_add_pd(moved[set], step);
      travelled[set] = _mm256_add_pd(travelled[set], _mm256_andnot_pd(sign, step));
      const __m256d off = _mm256_andnot_pd(sign, _mm256_sub_pd(exact, rounded));
      ties = _mm256_or_pd(ties, _mm256_cmp_pd(off, half, _CMP_EQ_OQ));
    }
  }
  alignas(32) double lanes[2][4];
  _mm256_store_pd(lanes[0], _mm256_add_pd(moved[0], moved[1]));
  _mm256_store_pd(lanes[1], _mm256_add_pd(travelled[0], travelled[1]));
  const bool any_tie = _mm256_movemask_pd(ties) != 0;
  _mm256_zeroupper();
  Steps steps;
  steps.moved = (lanes[0][0] + lanes[0][1]) + (lanes[0][2] + lanes[0][3]);
  steps.travel = (lanes[1][0] + lanes[1][1]) + (lanes[1][2] + lanes[1][3]);
  steps.tie = any_tie;
  for (; i < count; ++i) AddStep(terms[i], middle, half_spacing, steps);
  return steps;
}

// Adds the stretch to `sum` at once and returns true when that is provably what adding the
// terms one at a time gives; returns false, leaving `sum`, otherwise.
bool AddStretchAtOnce(const double* terms, std::size_t count, bool vector_code, float& sum) {
  const double magnitude = std::fabs(static_cast<double>(sum));
  // From 1 up the binade's spacing is a normal double's and far from overflow; NaN fails.
  if (!(magnitude >= 1.0 && magnitude < 0x1p100)) return false;
  int exponent = 0;
  std::frexp(magnitude, &exponent);
  const double low = std::ldexp(1.0, exponent - 1);  // the binade is [low, 2 low)
  const double spacing = std::ldexp(1.0, exponent - 24);
  const double middle = std::copysign(1.5 * low, static_cast<double>(sum));  // a float
  const Steps steps = vector_code && HasAvx2() ? StepsAvx2(terms, count, middle, 0.5 * spacing)
                                : StepsPlain(terms, count, middle, 0.5 * spacing);
  // A step differs from its term by at most half a spacing (and a part in 2^29 of one), so
  // with a spacing more every sum before rounding lies inside the binade, clear of its
  // ends. NaN and infinite steps fail here too.
  const double reach = steps.travel + spacing;
  if (!(magnitude - reach > low && magnitude + reach < 2.0 * low) || steps.tie) return false;
  // Multiples of one spacing, fewer than 2^24 of them: exact in any order.
  sum = static_cast<float>(static_cast<double>(sum) + steps.moved);
  return true;
}

}  // namespace

float AddEachRoundedToFloat(const double* terms, std::size_t count, float sum, bool vector_code) {
  for (std::size_t start = 0; start < count; start += kStretch) {
    const std::size_t stretch = count - start < kStretch ? count - start : kStretch;
    if (!AddStretchAtOnce(terms + start, stretch, vector_code, sum)) sum = AddOneAtATime(terms + start, stretch, sum);
  }
  return sum;
}

}  // namespace vantorel
