#!/usr/bin/env bash
# Times the whole vantorel process on generated 1 MP and 12 MP pictures with
# /usr/bin/time -v: elapsed time, milliseconds per megapixel and peak memory.
#   bench/run.sh [RUNS]   (default 3 runs per size; the fastest is reported)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTOREL_BUILD_DIR:-$root/build}
runs=${1:-3}
command -v /usr/bin/time >/dev/null || { echo "bench/run.sh needs /usr/bin/time (package time)" >&2; exit 1; }
"$root/scripts/build.sh" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%-10s %10s %10s %10s %12s %10s\n' picture pixels elapsed_s ms_per_MP pipeline_s peak_MB
for size in "1000 1000" "4000 3000"; do
  read -r w h <<<"$size"
  "$build/tests/test_image" make gradient "$w" "$h" "$work/in.jpg"
  best=""
  for _ in $(seq "$runs"); do
    /usr/bin/time -v "$build/vantorel" "$work/in.jpg" "$work/out.jpg" 0.9 >"$work/out.txt" 2>"$work/time.txt"
    elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s}' "$work/time.txt")
    peak=$(awk -F': ' '/Maximum resident/ {printf "%.0f", $2 / 1024}' "$work/time.txt")
    pipeline=$(awk '/Time cost is/ {print $4}' "$work/out.txt")
    if [[ -z $best ]] || awk -v a="$elapsed" -v b="$best" 'BEGIN {exit !(a < b)}'; then
      best=$elapsed best_peak=$peak best_pipeline=$pipeline
    fi
  done
  mp=$(awk -v w="$w" -v h="$h" 'BEGIN {print w * h / 1e6}')
  printf '%-10s %10s %10s %10.1f %12s %10s\n' "${w}x${h}" "$((w * h))" "$best" \
    "$(awk -v e="$best" -v m="$mp" 'BEGIN {print e * 1000 / m}')" "$best_pipeline" "$best_peak"
done
