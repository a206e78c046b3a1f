#include "filters/cpu_features.h"

#include <cstdlib>
#include <cstring>

namespace vantorel {

bool HasAvx2() {
  static const bool has = [] {
    const char* plain = std::getenv("VANTOREL_PLAIN_CODE");
    if (plain != nullptr && std::strcmp(plain, "1") == 0) return false;
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}

bool HasAvx512() {
  static const bool has = [] {
    if (!HasAvx2()) return false;
    const char* narrow = std::getenv("VANTOREL_NO_AVX512");
    if (narrow != nullptr && std::strcmp(narrow, "1") == 0) return false;
    return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512dq") != 0 &&
           __builtin_cpu_supports("avx512vl") != 0;
  }();
  return has;
}

}  // namespace vantorel
