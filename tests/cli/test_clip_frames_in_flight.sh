# A clip's frames dehazed two at a time (VANTOREL_THREADS=2: one thread each) against one at
# a time (VANTOREL_THREADS=1), through the real executable on FFV1 in mkv: every frame's
# pixels the same, in both looks, on a clip with a bright object crossing and a cut to
# another scene, so that the averages act and start afresh in the middle.
source "$(dirname "$0")/lib.sh"

ff() { ffmpeg -nostdin -v error -y "$@"; }
frame_hashes() { ff -i "$1" -map 0:v -fps_mode passthrough -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | awk -F, '{print $6}'; }
expect_same() {
  checks=$((checks + 1))
  [[ -n "$1" && "$1" == "$2" ]] || fail "$3"
}

# 14 frames of a pan over the mountains, then 12 over a mirrored, darker copy: a cut at
# frame 14. A white square crosses both.
SAMPLE="$SOURCE_DIR/samples/hazy_mountains.jpg"
ff -loop 1 -framerate 25 -i "$SAMPLE" -f lavfi -i "color=white:s=50x40:r=25" -filter_complex \
   "[0:v]scale=400:-2,setsar=1,split[m][o];[m]crop=240:160:'n*3':10,trim=end_frame=14[a];[o]hflip,vflip,eq=brightness=-0.25,crop=240:160:'n*2':30,trim=end_frame=12,setpts=PTS-STARTPTS[b];[a][b]concat=n=2:v=1[c];[c][1:v]overlay=x='n*8':y=100:shortest=1" \
   -frames:v 26 -c:v ffv1 -pix_fmt bgr0 cut.mkv
checks=$((checks + 1))
[[ $(frame_hashes cut.mkv | wc -l) -eq 26 ]] || fail "the clip has $(frame_hashes cut.mkv | wc -l) frames"

for look in classic natural; do
  VANTOREL_THREADS=2 run cut.mkv "two_$look.mkv" 0.8 --video-codec ffv1 --look $look
  expect_status 0 "two at a time, $look"
  VANTOREL_THREADS=1 run cut.mkv "one_$look.mkv" 0.8 --video-codec ffv1 --look $look
  expect_status 0 "one at a time, $look"
  expect_same "$(frame_hashes "two_$look.mkv")" "$(frame_hashes "one_$look.mkv")" "$look: frames differ between two at a time and one at a time"
done

# The averages did act, and started afresh at the cut: against window 0 (each frame on its
# own), the frames after the first differ, and the first after the cut is the same.
VANTOREL_THREADS=2 run cut.mkv alone.mkv 0.8 --video-codec ffv1 --temporal-window 0
expect_status 0 "window 0"
mapfile -t windowed < <(frame_hashes two_classic.mkv)
mapfile -t alone < <(frame_hashes alone.mkv)
checks=$((checks + 4))
[[ ${windowed[0]} == "${alone[0]}" ]] || fail "the first frame differs from window 0"
[[ ${windowed[13]} != "${alone[13]}" ]] || fail "the last frame before the cut is as with window 0"
[[ ${windowed[14]} == "${alone[14]}" ]] || fail "the first frame after the cut differs from window 0"
[[ ${windowed[25]} != "${alone[25]}" ]] || fail "the last frame is as with window 0"

finish
