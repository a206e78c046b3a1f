#!/usr/bin/env bash
# A clip against the loop a user would write, on a 10-second 1920x1080 30 fps clip made from
# the 15.9-megapixel sample photo: a slow pan over it with haze added, a bright square
# (400 x 400, 8 % of the frame) crossing the lower part, a sine tone as its sound. Measures in one run:
#   clip     vantorel clip.mp4 clear.mp4 0.8: frames per second and peak memory
#   loop     ffmpeg to PNG frames, vantorel -o over them, ffmpeg back with the sound
#   frame    the single form's "Time cost" on the clip's first frame, and 0.7 / that time
#   flicker  the standard deviation of the frame-to-frame change of the mean luma over the
#            upper 600 rows (which the square never crosses): source, default window, window 0,
#            and the estimates held (window 60 s, the largest: each frame moves them by 1/1800
#            of the way), the least any smoothing of the whole-frame estimates can reach; what
#            is left is the per-pixel work's answer to the pan itself; and the estimates' own
#            flicker: the same measure of the difference from the held run, frame by frame,
#            for the default window and window 0; then the same on a steady pan (exactly 2
#            pixels a frame, see make_clip) for the source, the default window and the
#            estimates held
#   bench/video.sh [SAMPLES_DIR]   (default: ../shared/samples beside the checkout)
set -euo pipefail
samples=${1:-$(cd "$(dirname "$0")/../.." && pwd)/shared/samples}
source "$(dirname "$0")/clip_common.sh"
make_clip clip.mp4 sound

seconds_of() { awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s}' "$1"; }
peak_mb_of() { awk -F': ' '/Maximum resident/ {printf "%.0f", $2 / 1024}' "$1"; }

/usr/bin/time -v "$vantorel" -q clip.mp4 clear.mp4 0.8 >/dev/null 2>clip_time.txt
clip_seconds=$(seconds_of clip_time.txt)

start=$(date +%s.%N)
mkdir frames clear_frames
ff -i clip.mp4 frames/f%05d.png
"$vantorel" -q -o clear_frames -t 0.8 frames >/dev/null
ff -framerate 30 -i clear_frames/f%05d.png -i clip.mp4 -map 0:v -map 1:a -c:v libx264 -crf 18 -preset medium \
   -pix_fmt yuv420p -c:a copy loop.mp4
loop_seconds=$(echo "$(date +%s.%N) - $start" | bc)

frame_cost=$("$vantorel" frames/f00001.png frame_clear.png 0.8 | awk '/Time cost/ {print $4}')

"$vantorel" -q clip.mp4 alone.mp4 0.8 --temporal-window 0 >/dev/null
"$vantorel" -q clip.mp4 held.mp4 0.8 --temporal-window 60 >/dev/null
# The mean luma of the upper 600 rows, frame by frame, into a file.
mean_luma() {
  ff -i "$1" -vf "crop=1920:600:0:0,signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-" -f null - |
    grep YAVG | cut -d= -f2 >"$2"
}
# The standard deviation of the frame-to-frame change of a series (one value a line).
change_std() { awk 'NR > 1 {d = $1 - p; n++; s += d; q += d * d} {p = $1} END {m = s / n; printf "%.4f", sqrt(q / n - m * m)}'; }
flicker() { change_std <"$1.luma"; }
# The flicker of run $1 over what the held estimates give: only what its estimates add.
added_flicker() { paste "$1.luma" held.luma | awk '{print $1 - $2}' | change_std; }
for run in clip clear alone held; do mean_luma "$run.mp4" "$run.luma"; done

make_clip steady.mp4 "" steady
"$vantorel" -q steady.mp4 steady_clear.mp4 0.8 >/dev/null
"$vantorel" -q steady.mp4 steady_held.mp4 0.8 --temporal-window 60 >/dev/null
for run in steady steady_clear steady_held; do mean_luma "$run.mp4" "$run.luma"; done

frames=300
awk -v c="$clip_seconds" -v l="$loop_seconds" -v f="$frame_cost" -v n="$frames" -v mb="$(peak_mb_of clip_time.txt)" \
    -v src="$(flicker clip)" -v win="$(flicker clear)" -v zero="$(flicker alone)" -v held="$(flicker held)" \
    -v win_added="$(added_flicker clear)" -v zero_added="$(added_flicker alone)" \
    -v steady="$(flicker steady)" -v steady_win="$(flicker steady_clear)" -v steady_held="$(flicker steady_held)" 'BEGIN {
  printf "clip    %d frames in %.1f s: %.2f fps, peak memory %d MB\n", n, c, n / c, mb
  printf "loop    %.1f s: %.2f fps; the clip is %.2f times as fast\n", l, n / l, l / c
  printf "frame   single form on one 1080p frame: Time cost %.3f s; target 0.7 / cost = %.2f fps\n", f, 0.7 / f
  printf "flicker std of the frame-to-frame change of the mean luma (upper part): source %.4f, window 1 s %.4f (%.2f x source), window 0 %.4f (%.1f x source), estimates held %.4f (%.2f x source)\n", src, win, win / src, zero, zero / src, held, held / src
  printf "        added by the estimates (over the held run): window 1 s %.4f, window 0 %.4f\n", win_added, zero_added
  printf "        steady pan: source %.4f, window 1 s %.4f (%.2f x source), estimates held %.4f (%.2f x source)\n", steady, steady_win, steady_win / steady, steady_held, steady_held / steady
}'
