#!/usr/bin/env bash
# Makes the README's clip figures from the built tool: a small clip made from the bundled
# sample (darkened, so that nothing in it is white; a slow pan; a white square crossing the
# lower part), dehazed with the default window and with window 0, then
#   docs/clip_strip.jpg        three frames of the source (top) and of the result (bottom)
#   docs/clip_brightness.png   the mean brightness of the upper part, which the square never
#                              reaches, frame by frame: source, window 0, window 1 s
#   docs/make_clip_figures.sh [VANTOREL]   (default: build/vantorel)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
vantorel=${1:-$root/build/vantorel}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ff() { ffmpeg -nostdin -v error -y "$@"; }

ff -i "$root/samples/hazy_mountains.jpg" -vf scale=800:-2 "$work/photo.png"
ff -loop 1 -framerate 25 -i "$work/photo.png" -f lavfi -i "color=white:s=90x90:r=25" \
   -filter_complex "[0:v]eq=brightness=-0.15,crop=640:360:'n*1.5':60[p];[p][1:v]overlay=x='-90+n*10':y=260[v]" \
   -map "[v]" -frames:v 75 -c:v ffv1 -pix_fmt bgr0 "$work/clip.mkv"
"$vantorel" -q "$work/clip.mkv" "$work/window.mkv" 0.8 --video-codec ffv1 >/dev/null
"$vantorel" -q "$work/clip.mkv" "$work/alone.mkv" 0.8 --video-codec ffv1 --temporal-window 0 >/dev/null

# Frames 10, 35 and 60 side by side, the source above the result.
row() { ff -i "$1" -vf "select='eq(n,10)+eq(n,35)+eq(n,60)',scale=320:-2,tile=3x1" -frames:v 1 "$2"; }
row "$work/clip.mkv" "$work/before.png"
row "$work/window.mkv" "$work/after.png"
ff -i "$work/before.png" -i "$work/after.png" -filter_complex vstack -q:v 3 "$root/docs/clip_strip.jpg"

brightness() {
  ff -i "$1" -vf "crop=640:180:0:0,signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-" -f null - |
    grep YAVG | cut -d= -f2 >"$2"
}
brightness "$work/clip.mkv" "$work/source.txt"
brightness "$work/alone.mkv" "$work/alone.txt"
brightness "$work/window.mkv" "$work/window.txt"
/usr/bin/python3 "$root/docs/plot_clip_brightness.py" "$work/source.txt" "$work/alone.txt" "$work/window.txt" \
  "$root/docs/clip_brightness.png"
