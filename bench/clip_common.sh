# What the clip benchmarks share, sourced by bench/video.sh and bench/clip_engine.sh after
# they set `samples` (the folder of sample photos): the tools they need, the executable, a
# scratch folder they work in, and the benchmark clip.
bench_name=bench/$(basename "$0")
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTOREL_BUILD_DIR:-$root/build}
photo=$(cd "$samples" 2>/dev/null && pwd)/dandelions_5312x2988.jpg
for tool in ffmpeg /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$bench_name needs $tool" >&2; exit 1; }
done
[[ -f $photo ]] || { echo "$bench_name: no $photo" >&2; exit 1; }
vantorel=$build/vantorel
[[ -x $vantorel ]] || { echo "$bench_name: build $vantorel first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
ff() { ffmpeg -nostdin -v error -y "$@"; }

# make_clip NAME [sound] [steady]: a 10-second 1920x1080 30 fps H.264 clip made from the
# photo: a slow pan over it with haze added (every level lifted toward a light grey: levels'
# output floor at 45 %), a bright square (400 x 400, 8 % of the frame) crossing the lower
# part, and with `sound` a sine tone in AAC. The pan goes 1.5 pixels a frame across and 0.3
# down, which the crop rounds to whole pixels: steps of 1 and 2 pixels, and a row now and
# then. With `steady` it goes exactly 2 pixels a frame across and not down. The photo is
# scaled once, not for every frame.
make_clip() {
  [[ -f photo.png ]] || ff -i "$photo" -vf scale=2400:-2 photo.png
  local sound_in=() sound_out=()
  local pan="crop=1920:1080:'n*1.5':'40+n*0.3'"
  [[ ${3:-} == steady ]] && pan="crop=1920:1080:'n*2':40"
  if [[ ${2:-} == sound ]]; then
    sound_in=(-f lavfi -i "sine=frequency=440:duration=10")
    sound_out=(-map 2:a -c:a aac -shortest)
  fi
  ff -loop 1 -framerate 30 -i photo.png -f lavfi -i "color=white:s=400x400:r=30" "${sound_in[@]}" \
     -filter_complex "[0:v]colorlevels=romin=0.45:gomin=0.45:bomin=0.45,$pan[p];[p][1:v]overlay=x='-400+n*8':y=660,format=yuv420p[v]" \
     -map "[v]" "${sound_out[@]}" -frames:v 300 -c:v libx264 -crf 18 -preset medium "$1"
}
