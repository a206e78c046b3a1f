// Float sums in the order of their terms, worked out without waiting on each rounding in
// turn: bit for bit what adding one term after another gives.
#pragma once

#include <cstddef>

namespace vantorel {

// The float that `sum = float(terms[i] + double(sum))` for i = 0 .. count - 1 leaves, bit
// for bit, whatever the terms (NaN and infinities included). With `vector_code` false the
// plain code runs even where AVX2 could (for tests: both must give the same float).
float AddEachRoundedToFloat(const double* terms, std::size_t count, float sum, bool vector_code = true);

// The float that `sum += terms[i]` for i = 0 .. count - 1 leaves, in the same way (with
// AVX2; without it, one addition after another).
float AddEachInFloat(const float* terms, std::size_t count, float sum);

}  // namespace vantorel
