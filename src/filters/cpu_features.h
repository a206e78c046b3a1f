// The one way the library's own vector code is chosen: at run time, by HasAvx2() and
// HasAvx512(). Hand-written AVX2 code (functions marked target("avx2")) is called only when
// HasAvx2() answers true, AVX-512 code (target(VANTOREL_AVX512)) only when HasAvx512() does;
// loops that the compiler vectorises run through RunVectorised, which compiles them twice.
// Every copy rounds exactly alike, so the choice never changes a result.
#pragma once

// The instruction sets of the AVX-512 code: eight doubles a vector, with its 256-bit forms.
#define VANTOREL_AVX512 "avx2,avx512f,avx512dq,avx512vl"

namespace vantorel {

// True when AVX2 can be used; asked once. VANTOREL_PLAIN_CODE set to 1 answers false, so
// that the plain code can be run on any machine.
bool HasAvx2();

// True when AVX-512 (F, DQ, VL) can be used as well: eight doubles a vector. Asked once;
// false whenever HasAvx2() is, and when VANTOREL_NO_AVX512 is set to 1.
bool HasAvx512();

// Runs body() from a copy compiled for AVX2 when HasAvx2(), else from one compiled for the
// baseline. Everything the body calls is inlined into each copy (flatten), so it must be
// visible here and small enough; legacy SSE code run between AVX code would also be much
// slower.
template <typename Body>
__attribute__((target("avx2"), flatten)) void RunBodyWithAvx2(const Body& body) {
  body();
}
template <typename Body>
__attribute__((flatten)) void RunBodyPlain(const Body& body) {
  body();
}
template <typename Body>
void RunVectorised(const Body& body) {
  if (HasAvx2()) {
    RunBodyWithAvx2(body);
  } else {
    RunBodyPlain(body);
  }
}

}  // namespace vantorel
