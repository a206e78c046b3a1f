#!/usr/bin/env bash
# The 16-bit path against the 8-bit one, on a photo made 16-bit with a smooth sky
# (tests/tools/deep_measures.h): whole-process time, the pipeline's own time and peak
# memory of vantorel on the 12-megapixel picture in 16 and in 8 bits, and, on the photo at
# its own size, the sky's distinct values in both results and how far the 16-bit result
# reduced to 8 bits lies from the 8-bit result of the reduced source.
#   bench/deep.sh [PHOTO] [RUNS]   (default: the shared dandelions sample beside the
#                                  checkout, 3 runs per depth; the fastest is reported)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTOREL_BUILD_DIR:-$root/build}
photo=${1:-$root/../shared/samples/dandelions_5312x2988.jpg}
runs=${2:-3}
command -v /usr/bin/time >/dev/null || { echo "bench/deep.sh needs /usr/bin/time (package time)" >&2; exit 1; }
[[ -f $photo ]] || { echo "bench/deep.sh: no photo at $photo (give one as the first argument)" >&2; exit 1; }
[[ -x $build/vantorel && -x $build/tests/test_image ]] ||
  { echo "bench/deep.sh: build vantorel and test_image in $build first" >&2; exit 1; }
tool=$build/tests/test_image
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# fastest RUNS SOURCE RESULT: "elapsed_s pipeline_s peak_MB" of the fastest of RUNS runs.
fastest() {
  local best="" best_peak="" best_pipeline=""
  for _ in $(seq "$runs"); do
    /usr/bin/time -v "$build/vantorel" "$1" "$2" 0.9 >"$work/out.txt" 2>"$work/time.txt"
    local elapsed peak pipeline
    elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s}' "$work/time.txt")
    peak=$(awk -F': ' '/Maximum resident/ {printf "%.0f", $2 / 1024}' "$work/time.txt")
    pipeline=$(awk '/Time cost is/ {print $4}' "$work/out.txt")
    if [[ -z $best ]] || awk -v a="$elapsed" -v b="$best" 'BEGIN {exit !(a < b)}'; then
      best=$elapsed best_peak=$peak best_pipeline=$pipeline
    fi
  done
  echo "$best $best_pipeline $best_peak"
}

echo "12 megapixels (4000 x 3000) from $(basename "$photo"), $runs runs each, PNG in and out"
"$tool" scale "$photo" 4000 3000 "$work/photo.png"
"$tool" deepen "$work/photo.png" "$work/deep.png"
"$tool" reduce "$work/deep.png" "$work/eight.png"
read -r e8 p8 m8 <<<"$(fastest "$work/eight.png" "$work/out8.png")"
read -r e16 p16 m16 <<<"$(fastest "$work/deep.png" "$work/out16.png")"
printf '%-8s %10s %11s %8s\n' depth elapsed_s pipeline_s peak_MB
printf '%-8s %10s %11s %8s\n' 8 "$e8" "$p8" "$m8" 16 "$e16" "$p16" "$m16"
awk -v e8="$e8" -v e16="$e16" -v p8="$p8" -v p16="$p16" -v m8="$m8" -v m16="$m16" \
  'BEGIN {printf "16 / 8 bits: elapsed %.2f, pipeline %.2f, peak memory %.2f\n", e16 / e8, p16 / p8, m16 / m8}'

echo
echo "measures on the photo at its own size, thickness 0.9"
"$tool" deepen "$photo" "$work/deep_full.png"
"$tool" reduce "$work/deep_full.png" "$work/eight_full.png"
"$build/vantorel" "$work/deep_full.png" "$work/r16.png" 0.9 >/dev/null
"$build/vantorel" "$work/eight_full.png" "$work/r8.png" 0.9 >/dev/null
read -r d16 d8 mean largest x y channel <<<"$("$tool" measure "$work/r16.png" "$work/r8.png")"
echo "distinct sky values: $d16 in 16 bits, $d8 in 8 bits ($(awk -v a="$d16" -v b="$d8" 'BEGIN {printf "%.1f", a / b}') times)"
echo "16-bit result reduced to 8 bits against the 8-bit result: mean absolute difference $mean levels," \
     "largest $largest at x $x, y $y, channel $channel (0 blue, 1 green, 2 red)"
