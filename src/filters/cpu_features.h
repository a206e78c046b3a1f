// What the processor offers beyond the baseline the library is compiled for.
#pragma once

namespace vantorel {

// True when AVX2 can be used; asked once. VANTOREL_PLAIN_CODE set to 1 answers false, so
// that the plain code can be run on any machine (the results are the same either way).
bool HasAvx2();

}  // namespace vantorel
