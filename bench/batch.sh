#!/usr/bin/env bash
# Many pictures in one run against the shell's ways of doing it: 16 pictures of 1 to 16
# megapixels, made from the sample photos, dehazed by
#   batch       vantorel -o DIR (the default jobs),
#   xargs -P 2  the one-picture form, two at a time, VANTOREL_THREADS=1,
#   loop        the one-picture form, one after the other (every core each),
# with pictures and megapixels per second and peak memory (/usr/bin/time; for xargs the
# resident sizes of the vantorel processes alive at once, sampled every 20 ms).
#   bench/batch.sh [SAMPLES_DIR]   (default: ../shared/samples beside the checkout)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTOREL_BUILD_DIR:-$root/build}
samples=${1:-$root/../shared/samples}
command -v /usr/bin/time >/dev/null || { echo "bench/batch.sh needs /usr/bin/time (package time)" >&2; exit 1; }
ls "$samples"/*.jpg >/dev/null || { echo "bench/batch.sh: no sample photos in $samples" >&2; exit 1; }
"$root/scripts/build.sh" >/dev/null
vantorel=$build/vantorel
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The pictures: the sample photos in turn, scaled to 1, 2, ... 16 megapixels.
mapfile -t photos < <(ls "$samples"/*.jpg)
mkdir "$work/pictures"
total_mp=0
for mp in $(seq 1 16); do
  photo=${photos[$((mp % ${#photos[@]}))]}
  read -r w h _ < <("$build/tests/test_image" info "$photo")
  width=$(awk -v w="$w" -v h="$h" -v mp="$mp" 'BEGIN {printf "%d", sqrt(mp * 1e6 * w / h)}')
  height=$(awk -v w="$w" -v h="$h" -v mp="$mp" 'BEGIN {printf "%d", sqrt(mp * 1e6 * h / w)}')
  "$build/tests/test_image" scale "$photo" "$width" "$height" "$work/pictures/p$(printf %02d "$mp").jpg"
  total_mp=$(awk -v t="$total_mp" -v w="$width" -v h="$height" 'BEGIN {print t + w * h / 1e6}')
done

# Peak of the summed resident sizes of the running vantorel processes, in MB, written to
# $1 once the file $1.stop appears.
sample_memory() {
  local peak=0 sum
  while [[ ! -e $1.stop ]]; do
    sum=$(awk '/^VmRSS/ {s += $2} END {print s + 0}' $(pgrep -x vantorel | sed 's|.*|/proc/&/status|') 2>/dev/null || echo 0)
    ((sum > peak)) && peak=$sum
    sleep 0.02
  done
  echo $((peak / 1024)) >"$1"
}

report() {  # NAME SECONDS PEAK_MB
  awk -v n="$1" -v s="$2" -v m="$3" -v mp="$total_mp" \
    'BEGIN {printf "%-12s %9.1f %12.3f %9.2f %10s\n", n, s, 16 / s, mp / s, m}'
}

printf '%-12s %9s %12s %9s %10s\n' method elapsed_s pictures_per_s MP_per_s peak_MB

mkdir "$work/batch"
/usr/bin/time -f '%e %M' -o "$work/batch.time" "$vantorel" -q -o "$work/batch" -t 0.9 "$work/pictures"
read -r seconds kb <"$work/batch.time"
report "batch" "$seconds" $((kb / 1024))

mkdir "$work/xargs"
sample_memory "$work/xargs.peak" &
start=$(date +%s.%N)
(cd "$work/pictures" && ls -- *.jpg | VANTOREL_THREADS=1 xargs -P 2 -I{} "$vantorel" {} "$work/xargs/{}" 0.9 >/dev/null)
end=$(date +%s.%N)
touch "$work/xargs.peak.stop"
wait
report "xargs -P 2" "$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')" "$(cat "$work/xargs.peak")"

mkdir "$work/loop"
start=$(date +%s.%N)
for picture in "$work"/pictures/*.jpg; do
  /usr/bin/time -f '%M' -a -o "$work/loop.peaks" "$vantorel" "$picture" "$work/loop/${picture##*/}" 0.9 >/dev/null
done
end=$(date +%s.%N)
report "loop" "$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')" "$(sort -n "$work/loop.peaks" | tail -n 1 | awk '{printf "%d", $1 / 1024}')"

echo "two largest single runs' peaks added: $(sort -n "$work/loop.peaks" | tail -n 2 | awk '{s += $1} END {printf "%d", s / 1024}') MB"
same=yes
for picture in "$work"/pictures/*.jpg; do
  name=${picture##*/}
  cmp -s "$work/batch/$name" "$work/loop/$name" && cmp -s "$work/xargs/$name" "$work/loop/$name" || same=no
done
echo "results byte-identical across the three: $same"
