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

}  // namespace vantorel
