#!/usr/bin/env bash
# Dehazes a 6000 x 4000 and a 12000 x 8000 JPEG (the bundled sample photo blown up; made
# here, never committed) and reports, for each, the elapsed time and the peak memory of
# the whole process (/usr/bin/time -v), the pipeline's own time, and the peak memory
# added per pixel over a run that only decodes: the figure that the memory check's
# per-pixel constant (src/dehazefile/memory_budget.h) must stay above: status 1 when a
# picture needs more. The tier `large` of ./test.sh --all; it needs several GiB of memory
# and about a minute, after a build.
#   tests/large/run_large.sh [SIZE...]   sizes as WIDTHxHEIGHT (default 6000x4000 12000x8000)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VANTOREL_BUILD_DIR:-$root/build}
command -v /usr/bin/time >/dev/null || { echo "run_large.sh needs /usr/bin/time (package time)" >&2; exit 1; }
[[ -x $build/vantorel ]] || { echo "run_large.sh: no $build/vantorel; build first" >&2; exit 1; }
budget=$(sed -n 's/^constexpr int kPipelineBytesPerPixel = \([0-9]*\);/\1/p' \
  "$root/src/dehazefile/memory_budget.h")
[[ -n $budget ]] || { echo "run_large.sh: kPipelineBytesPerPixel not found" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(6000x4000 12000x8000)

# peak_kib TIME_OUTPUT, elapsed_s TIME_OUTPUT
peak_kib() { awk -F': ' '/Maximum resident/ {print $2}' "$1"; }
elapsed_s() {
  awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s}' "$1"
}

printf '%-12s %10s %10s %11s %9s %13s %7s\n' picture pixels elapsed_s pipeline_s peak_MiB decode_only_MiB B/pixel
for size in "${sizes[@]}"; do
  w=${size%x*}
  h=${size#*x}
  "$build/tests/test_image" scale "$root/samples/hazy_mountains.jpg" "$w" "$h" "$work/in.jpg"
  # Thickness 0.05 decodes the picture and stops: the baseline without the pipeline.
  /usr/bin/time -v "$build/vantorel" "$work/in.jpg" "$work/out.jpg" 0.05 >/dev/null 2>"$work/decode.txt"
  /usr/bin/time -v "$build/vantorel" "$work/in.jpg" "$work/out.jpg" 0.9 >"$work/out.txt" 2>"$work/time.txt" || {
    cat "$work/time.txt" >&2
    exit 1
  }
  info=$("$build/tests/test_image" info "$work/out.jpg")
  [[ "$info" == "$w $h 3 8" ]] || { echo "$size: the result decodes as '$info'" >&2; exit 1; }
  peak=$(peak_kib "$work/time.txt")
  base=$(peak_kib "$work/decode.txt")
  printf '%-12s %10d %10s %11s %9d %13d %7.1f\n' "$size" $((w * h)) "$(elapsed_s "$work/time.txt")" \
    "$(awk '/Time cost is/ {print $4}' "$work/out.txt")" $((peak / 1024)) $((base / 1024)) \
    "$(awk -v p="$peak" -v b="$base" -v n=$((w * h)) 'BEGIN {print (p - b) * 1024 / n}')"
  if ! awk -v p="$peak" -v b="$base" -v n=$((w * h)) -v budget="$budget" \
      'BEGIN {exit !((p - b) * 1024 / n <= budget)}'; then
    echo "$size: the pipeline needed more than the memory check's $budget bytes a pixel" >&2
    exit 1
  fi
done
