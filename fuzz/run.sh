#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (build-fuzz/) and runs each one for
# SECONDS, then prints the executions and the findings of each.
#   fuzz/run.sh SECONDS
# The corpus grows in build-fuzz/corpus/TARGET from run to run; the seeds are made
# afresh each time (make_seeds.sh) and the inputs in regressions/ are always included.
# A finding is kept as build-fuzz/findings/TARGET/crash-... (or leak-, timeout-, oom-):
# turn it into a regression input (regressions/TARGET/) or a unit test once fixed.
# Status 1 when any target found something.
set -euo pipefail
seconds=${1:?usage: fuzz/run.sh SECONDS}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${VANTOREL_FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=$(nproc 2>/dev/null || echo 2)

mkdir -p "$build"
if ! { CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVANTOREL_FUZZ=ON -DVANTOREL_BUILD_BENCHMARKS=OFF &&
  cmake --build "$build" --parallel "$jobs" --target fuzz_decode fuzz_dehaze test_image; } >"$build/build.log" 2>&1; then
  cat "$build/build.log" >&2
  echo "fuzz: the fuzz targets did not build" >&2
  exit 1
fi

rm -rf "$build/seeds"
"$here/make_seeds.sh" "$build/tests/test_image" "$build/seeds"

# The image library refuses pictures above 64 x 64 before allocating them, so that every
# run stays small; the pipeline's own limits are exercised by fuzz_dehaze.
export OPENCV_IO_MAX_IMAGE_PIXELS=4096
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

passed=0
failed=0
for target in decode dehaze; do
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  log=$build/fuzz_$target.log
  mkdir -p "$corpus" "$findings"
  inputs=("$corpus" "$build/seeds/$target")
  if [[ -d "$here/regressions/$target" ]]; then inputs+=("$here/regressions/$target"); fi
  status=0
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -max_len=16384 -print_final_stats=1 -artifact_prefix="$findings/" "${inputs[@]}" \
    >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  found=$(find "$findings" -type f | wc -l)
  echo "fuzz_$target: ${executions:-0} executions in ${seconds} s, corpus $(find "$corpus" -type f | wc -l) inputs, $found findings"
  if [[ $status -ne 0 || $found -ne 0 ]]; then
    failed=$((failed + 1))
    echo "fuzz_$target: status $status; see $log and $findings" >&2
    grep -m 20 -E 'ERROR|runtime error|fuzz_(decode|dehaze):|SUMMARY' "$log" >&2 || true
  else
    passed=$((passed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
