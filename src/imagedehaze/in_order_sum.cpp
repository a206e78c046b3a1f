// One addition after another puts every term's rounding on a chain (for terms in double, a
// conversion, an addition and a conversion back). But while the running sum stays inside
// one binade of floats, every step is a shift of the sum by a whole number of the binade's
// float spacings, and that number does not depend on where in the binade the sum is, only
// on the term, unless the exact result lies halfway between two floats (then the tie goes
// to the even one, which depends on the sum). So a stretch of terms whose steps, added up
// in magnitude, keep every partial sum well inside the binade, and none of which is a tie,
// moves the sum by the steps' total: each step is measured against a fixed sum in the
// middle of the binade, and the steps, all multiples of one spacing, add exactly in any
// order. Any other stretch (a binade crossed, a tie, a NaN or an infinity, a sum below 1)
// is added one term at a time.
#include "imagedehaze/in_order_sum.h"

#include <immintrin.h>

#include <cmath>
#include <type_traits>

#include "filters/cpu_features.h"

namespace vantorel {

namespace {

constexpr std::size_t kStretch = 512;

float AddOneAtATime(const double* terms, std::size_t count, float sum) {
  for (std::size_t i = 0; i < count; ++i) sum = static_cast<float>(terms[i] + static_cast<double>(sum));
  return sum;
}

float AddOneAtATime(const float* terms, std::size_t count, float sum) {
  for (std::size_t i = 0; i < count; ++i) sum += terms[i];
  return sum;
}

// What a stretch's steps add up to, measured against `middle`, a float in the middle of the
// sum's binade: each term's step is float(term + middle) - middle, the addition done as the
// chain's is (a double term's in double, then rounded to float). `moved` is their sum,
// `travel` the sum of their magnitudes, and `tie` is set when a term's exact result lies
// halfway between two floats.
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

// A float term's step: the float addition's error, term - step, is exact (the middle is
// the larger), so a tie shows as an error of half a spacing.
__attribute__((always_inline)) inline void AddStep(float term, float middle, float half_spacing, Steps& steps) {
  const float rounded = term + middle;
  const float step = rounded - middle;  // exact: both lie in one binade or next to it
  steps.moved += static_cast<double>(step);
  steps.travel += static_cast<double>(std::fabs(step));
  steps.tie |= std::fabs(term - step) == half_spacing;
}

// Sixteen terms a round in two sets of eight lanes. The lanes' sums are multiples of one
// spacing below 2^24 of them wherever the stretch is added at once, so floats hold them
// exactly; where they are not, the travel is too large or NaN either way.
__attribute__((target("avx2"))) Steps StepsAvx2(const float* terms, std::size_t count, float middle,
                                                 float half_spacing) {
  const __m256 mid = _mm256_set1_ps(middle), half = _mm256_set1_ps(half_spacing);
  const __m256 sign = _mm256_set1_ps(-0.0f);
  __m256 moved[2] = {_mm256_setzero_ps(), _mm256_setzero_ps()};
  __m256 travelled[2] = {_mm256_setzero_ps(), _mm256_setzero_ps()};
  __m256 ties = _mm256_setzero_ps();
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    for (int set = 0; set < 2; ++set) {
      const __m256 term = _mm256_loadu_ps(terms + i + 8 * set);
      const __m256 step = _mm256_sub_ps(_mm256_add_ps(term, mid), mid);
      moved[set] = _mm256_add_ps(moved[set], step);
      travelled[set] = _mm256_add_ps(travelled[set], _mm256_andnot_ps(sign, step));
      const __m256 off = _mm256_andnot_ps(sign, _mm256_sub_ps(term, step));
      ties = _mm256_or_ps(ties, _mm256_cmp_ps(off, half, _CMP_EQ_OQ));
    }
  }
  alignas(32) float lanes[2][8];
  _mm256_store_ps(lanes[0], _mm256_add_ps(moved[0], moved[1]));
  _mm256_store_ps(lanes[1], _mm256_add_ps(travelled[0], travelled[1]));
  const bool any_tie = _mm256_movemask_ps(ties) != 0;
  _mm256_zeroupper();
  Steps steps;
  for (int lane = 0; lane < 8; ++lane) {
    steps.moved += static_cast<double>(lanes[0][lane]);
    steps.travel += static_cast<double>(lanes[1][lane]);
  }
  steps.tie = any_tie;
  for (; i < count; ++i) AddStep(terms[i], middle, half_spacing, steps);
  return steps;
}

// Adds the stretch to `sum` at once and returns true when that is provably what adding the
// terms one at a time gives; returns false, leaving `sum`, otherwise.
template <typename Term>
bool AddStretchAtOnce(const Term* terms, std::size_t count, bool vector_code, float& sum) {
  const double magnitude = std::fabs(static_cast<double>(sum));
  // From 1 up the binade's spacing is a normal float's and far from overflow; NaN fails.
  if (!(magnitude >= 1.0 && magnitude < 0x1p100)) return false;
  int exponent = 0;
  std::frexp(magnitude, &exponent);
  const double low = std::ldexp(1.0, exponent - 1);  // the binade is [low, 2 low)
  const double spacing = std::ldexp(1.0, exponent - 24);
  const Term middle = static_cast<Term>(std::copysign(1.5 * low, static_cast<double>(sum)));  // a float
  const Term half_spacing = static_cast<Term>(0.5 * spacing);
  Steps steps;
  if constexpr (std::is_same_v<Term, float>) {
    steps = StepsAvx2(terms, count, middle, half_spacing);  // only called with AVX2
  } else {
    steps = vector_code && HasAvx2() ? StepsAvx2(terms, count, middle, half_spacing)
                                     : StepsPlain(terms, count, middle, half_spacing);
  }
  // A step differs from its term by at most half a spacing (and for a double term a part
  // in 2^29 of one), so with a spacing more every sum before rounding lies inside the
  // binade, clear of its ends. NaN and infinite steps fail here too.
  const double reach = steps.travel + spacing;
  if (!(magnitude - reach > low && magnitude + reach < 2.0 * low) || steps.tie) return false;
  // Multiples of one spacing, fewer than 2^24 of them: exact in any order.
  sum = static_cast<float>(static_cast<double>(sum) + steps.moved);
  return true;
}

template <typename Term>
float AddEach(const Term* terms, std::size_t count, float sum, bool vector_code) {
  for (std::size_t start = 0; start < count; start += kStretch) {
    const std::size_t stretch = count - start < kStretch ? count - start : kStretch;
    if (!AddStretchAtOnce(terms + start, stretch, vector_code, sum)) sum = AddOneAtATime(terms + start, stretch, sum);
  }
  return sum;
}

}  // namespace

float AddEachRoundedToFloat(const double* terms, std::size_t count, float sum, bool vector_code) {
  return AddEach(terms, count, sum, vector_code);
}

// Without AVX2 the steps cost about what the chain does: one term after another.
float AddEachInFloat(const float* terms, std::size_t count, float sum) {
  return HasAvx2() ? AddEach(terms, count, sum, true) : AddOneAtATime(terms, count, sum);
}

}  // namespace vantorel
