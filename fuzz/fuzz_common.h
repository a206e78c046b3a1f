// Set-up and failure report shared by the fuzz targets.
#pragma once

#include <cstdio>
#include <cstdlib>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>

namespace vantorel {

// A broken property: say which and abort, so that libFuzzer keeps the input.
[[noreturn]] inline void FuzzPropertyBroken(const char* target, const char* what) {
  std::fprintf(stderr, "%s: %s\n", target, what);
  std::abort();
}

// The library quiet and on one thread: runs stay deterministic and the sanitizers see
// every access.
inline void PrepareLibraryForFuzzing() {
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  cv::setNumThreads(0);
}

}  // namespace vantorel
