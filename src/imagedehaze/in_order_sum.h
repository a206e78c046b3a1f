// A float sum whose every addition is done in double and rounded back to float, in the
// order of its terms, worked out without waiting on each rounding in turn.
#pragma once

#include <cstddef>

namespace vantorel {

// The float that `sum = float(terms[i] + double(sum))` for i = 0 .. count - 1 leaves, bit
// for bit, whatever the terms (NaN and infinities included). With `vector_code` false the
// plain code runs even where AVX2 could (for tests: both must give the same float).
float AddEachRoundedToFloat(const double* terms, std::size_t count, float sum, bool vector_code = true);

}  // namespace vantorel
