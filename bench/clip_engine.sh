#!/usr/bin/env bash
# The clip form with the encoder's cost taken out: the 10-second 1920x1080 30 fps clip of
# bench/video.sh (a slow hazy pan over the 15.9-megapixel sample, a bright square crossing
# it) dehazed into FFV1 in mkv, which is lossless and cheap to encode, so that the engine
# sets the pace. For each run: frames per second, CPU time, minor page faults and peak
# memory (/usr/bin/time -v), and the load before it. Rounds interleave this build's
# executable with another one when given (an older build, to compare), and each round also
# runs this build with VANTOREL_THREADS=1 (one frame at a time on one thread).
#   bench/clip_engine.sh [ROUNDS] [OTHER_VANTOREL]   (default: 3 rounds, no other)
# The samples are found in ../shared/samples beside the checkout, or in VANTOREL_SAMPLES.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTOREL_BUILD_DIR:-$root/build}
samples=${VANTOREL_SAMPLES:-$root/../shared/samples}
rounds=${1:-3}
other=${2:-}
photo=$samples/dandelions_5312x2988.jpg
for tool in ffmpeg /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench/clip_engine.sh needs $tool" >&2; exit 1; }
done
[[ -f $photo ]] || { echo "bench/clip_engine.sh: no $photo" >&2; exit 1; }
vantorel=$build/vantorel
[[ -x $vantorel ]] || { echo "bench/clip_engine.sh: build $vantorel first" >&2; exit 1; }
[[ -z $other || -x $other ]] || { echo "bench/clip_engine.sh: $other is not an executable" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
ff() { ffmpeg -nostdin -v error -y "$@"; }

ff -i "$photo" -vf scale=2400:-2 photo.png
ff -loop 1 -framerate 30 -i photo.png -f lavfi -i "color=white:s=400x400:r=30" \
   -filter_complex "[0:v]colorlevels=romin=0.45:gomin=0.45:bomin=0.45,crop=1920:1080:'n*1.5':'40+n*0.3'[p];[p][1:v]overlay=x='-400+n*8':y=660,format=yuv420p[v]" \
   -map "[v]" -frames:v 300 -c:v libx264 -crf 18 -preset medium clip.mp4

# run LABEL EXECUTABLE [VARIABLE=VALUE...]
run() {
  local label=$1 executable=$2
  shift 2
  local load
  load=$(cut -d' ' -f1 /proc/loadavg)
  env "$@" /usr/bin/time -v "$executable" -q clip.mp4 out.mkv 0.8 --video-codec ffv1 >/dev/null 2>time.txt
  awk -v label="$label" -v load="$load" -F': ' '
    /Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; wall = s}
    /User time/ {user = $2} /System time/ {sys = $2} /Minor/ {faults = $2} /Maximum resident/ {peak = $2}
    END {printf "%-12s load %5s  %6.1f s  %5.2f fps  cpu %6.1f s  minor faults %7d  peak %4d MB\n",
                label, load, wall, 300 / wall, user + sys, faults, peak / 1024}' time.txt
}

for round in $(seq 1 "$rounds"); do
  [[ -n $other ]] && run "other" "$other"
  run "this" "$vantorel"
  run "this, 1" "$vantorel" VANTOREL_THREADS=1
done
