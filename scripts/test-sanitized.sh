#!/usr/bin/env bash
# Builds the whole project and its tests a second time under AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/) and runs the suite there. Any report aborts
# the program that made it, so the test that ran it fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${VANTOREL_ASAN_BUILD_DIR:-$root/build-asan}
jobs=$(nproc 2>/dev/null || echo 2)

# RelWithDebInfo: optimised like the real build (the same -ffp-contract=off arithmetic)
# but with line numbers in the reports.
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTOREL_SANITIZE=ON \
  -DVANTOREL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build_dir" --parallel "$jobs"

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
cd "$build_dir"
ctest --output-on-failure --parallel "$jobs" --label-exclude "^large$"
