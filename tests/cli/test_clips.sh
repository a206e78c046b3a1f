# Clips through the real executable, on small clips made here with the ffmpeg program.
# Pixels are compared on FFV1 in mkv (lossless RGB), frame by frame, against the single form
# on the same frame as a PNG.
source "$(dirname "$0")/lib.sh"

SAMPLE="$SOURCE_DIR/samples/hazy_mountains.jpg"
ff() { ffmpeg -nostdin -v error -y "$@"; }

# frame_hashes CLIP: one line per video frame, the MD5 of its BGR pixels.
frame_hashes() { ff -i "$1" -map 0:v -fps_mode passthrough -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | awk -F, '{print $6}'; }
# single_form_hashes CLIP THICKNESS: the same for every frame dehazed by the single form.
single_form_hashes() {
  rm -rf frames && mkdir frames
  ff -i "$1" -map 0:v -fps_mode passthrough -pix_fmt bgr24 frames/f%03d.png
  for frame in frames/f*.png; do "$VANTOREL" -q "$frame" "${frame%.png}_d.png" "$2" >/dev/null || echo "failed $frame"; done
  ff -i frames/f%03d_d.png -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | awk -F, '{print $6}'
}
# video_times CLIP and audio_packets CLIP: every frame's time, every sound packet (times, size, hash).
video_times() { ffprobe -v error -select_streams v -show_entries frame=pts_time -of default=nw=1 "$1" | grep "^pts_time="; }
audio_packets() { ff -i "$1" -map 0:a -c copy -f framemd5 - | grep -v '^#'; }
expect_same() {
  checks=$((checks + 1))
  [[ -n "$1" && "$1" == "$2" ]] || fail "$3"
}
# with_matrix SOURCE RESULT MATRIX: an mp4 or mov SOURCE whose video track's matrix (the
# first one, as the tkhd box stores it: nine 32-bit words) is replaced by MATRIX.
TURNED='00000000 00010000 00000000 FFFF0000 00000000 00000000 00000000 00000000 40000000'  # by 90 degrees
MIRROR='FFFF0000 00000000 00000000 00000000 00010000 00000000 00000000 00000000 40000000'  # left for right
with_matrix() {
  /usr/bin/python3 - "$@" <<'PY'
import sys
source, result, matrix = sys.argv[1:]
data = bytearray(open(source, 'rb').read())
identity = bytes.fromhex('00010000' + '00000000' * 3 + '00010000' + '00000000' * 3 + '40000000')
at = data.index(identity, data.index(b'tkhd'))
data[at:at + len(identity)] = bytes.fromhex(matrix)
open(result, 'wb').write(data)
PY
}

# A clip of one repeated frame: with the default window every frame is the single form's.
ff -loop 1 -framerate 10 -i "$SAMPLE" -vf "scale=160:-2,crop=160:100:0:0" -frames:v 5 -c:v ffv1 -pix_fmt bgr0 still.mkv
run still.mkv still_out.mkv 0.8 --video-codec ffv1
expect_status 0 "repeated frame"
single=$(single_form_hashes still.mkv 0.8)
expect_same "$(frame_hashes still_out.mkv)" "$single" "repeated frame: frames differ from the single form"
checks=$((checks + 1))
[[ $(echo "$single" | wc -l) -eq 5 ]] || fail "repeated frame: $(echo "$single" | wc -l) frames"

# A pan at a variable frame rate with sound. Window 0: every frame is the single form's; the
# sound's packets and every frame's time are the source's.
ff -loop 1 -i "$SAMPLE" -f lavfi -i "sine=frequency=300:duration=1" \
   -filter_complex "[0:v]scale=400:-2,crop=160:120:'n*6':20,setpts='(N*40+N*N*3)/1000/TB'[v]" \
   -map "[v]" -map 1:a -frames:v 8 -c:v ffv1 -pix_fmt bgr0 -c:a flac pan.mkv
run pan.mkv pan_out.mkv 0.8 --video-codec ffv1 --temporal-window 0
expect_status 0 "pan, window 0"
expect_same "$(frame_hashes pan_out.mkv)" "$(single_form_hashes pan.mkv 0.8)" "pan, window 0: frames differ from the single form"
expect_same "$(video_times pan_out.mkv)" "$(video_times pan.mkv)" "pan: frame times differ"
expect_same "$(audio_packets pan_out.mkv)" "$(audio_packets pan.mkv)" "pan: sound packets differ"
checks=$((checks + 1))
[[ $(video_times pan.mkv | cut -d= -f2 | awk 'NR>1{print $1-p} {p=$1}' | sort -u | wc -l) -gt 1 ]] || fail "pan: the source is not VFR"
# The default window changes later frames but not the first.
run pan.mkv pan_window.mkv 0.8 --video-codec ffv1
checks=$((checks + 2))
[[ $(frame_hashes pan_window.mkv | head -n 1) == $(frame_hashes pan_out.mkv | head -n 1) ]] || fail "pan: the first frame differs with the window"
[[ $(frame_hashes pan_window.mkv | tail -n 1) != $(frame_hashes pan_out.mkv | tail -n 1) ]] || fail "pan: the window changed nothing"

# The usual clip: H.264 and AAC in mp4, turned by a display matrix, with a creation time.
ff -f lavfi -i "testsrc2=size=160x120:rate=25:duration=1" -f lavfi -i "sine=duration=1" -c:v libx264 -c:a aac \
   -metadata creation_time=2024-05-06T07:08:09Z plain.mp4
with_matrix plain.mp4 turned.mp4 "$TURNED"
run turned.mp4 turned_out.mp4 0.8
expect_status 0 "mp4"
rotation() { ffprobe -v error -select_streams v -show_entries stream_side_data=rotation -of csv=p=0 "$1"; }
created() { ffprobe -v error -show_entries format_tags=creation_time -of csv=p=0 "$1"; }
expect_same "$(rotation turned_out.mp4)" "$(rotation turned.mp4)" "mp4: rotation '$(rotation turned_out.mp4)'"
expect_same "$(created turned_out.mp4)" "2024-05-06T07:08:09.000000Z" "mp4: creation time '$(created turned_out.mp4)'"
expect_same "$(video_times turned_out.mp4)" "$(video_times turned.mp4)" "mp4: frame times differ"
expect_same "$(audio_packets turned_out.mp4)" "$(audio_packets turned.mp4)" "mp4: sound packets differ"
expect_same "$(ffprobe -v error -show_entries format=duration -of csv=p=0 turned_out.mp4)" \
            "$(ffprobe -v error -show_entries format=duration -of csv=p=0 turned.mp4)" "mp4: durations differ"
video_stream=$(ffprobe -v error -select_streams v -show_entries stream=codec_name,pix_fmt -of default=nw=1 turned_out.mp4 |
  grep -E '^(codec_name|pix_fmt)=' | tr '\n' ' ')
expect_same "$video_stream" "codec_name=h264 pix_fmt=yuv420p " "mp4: video stream $video_stream"

# A result that is its source.
cp pan.mkv self.mkv
run self.mkv self.mkv 0.8 --video-codec ffv1 --temporal-window 0
expect_status 0 "result is the source"
expect_same "$(frame_hashes self.mkv)" "$(frame_hashes pan_out.mkv)" "result is the source: frames differ"

# Matroska cannot store the rotation: into mkv the frames are stored turned as the matrix
# asks (a quarter clockwise here, as the ffmpeg program shows the source), each the single
# form's result on the frame as stored, turned; the result has no rotation left to apply.
ff -loop 1 -i "$SAMPLE" -vf "scale=400:-2,crop=160:120:'n*6':20" -frames:v 4 -c:v ffv1 -pix_fmt bgr0 upright.mov
with_matrix upright.mov sideways.mov "$TURNED"
run sideways.mov sideways_out.mkv 0.8 --video-codec ffv1 --temporal-window 0
expect_status 0 "mov into mkv"
checks=$((checks + 1))
[[ $ERR != *note* ]] || fail "mov into mkv: a note for a matrix it kept by turning the frames: $ERR"
expect_same "$(ffprobe -v error -select_streams v -show_entries stream=width,height:stream_side_data=rotation \
               -of csv=p=0 sideways_out.mkv)" "120,160" "mkv: stored size and rotation"
rm -rf frames && mkdir frames
ff -noautorotate -i sideways.mov -pix_fmt bgr24 frames/f%03d.png
for frame in frames/f*.png; do
  "$VANTOREL" -q "$frame" "${frame%.png}_d.png" 0.8 >/dev/null && "$TEST_IMAGE" rotate "${frame%.png}_d.png" "${frame%.png}_t.png" ||
    echo "failed $frame"
done
expect_same "$(frame_hashes sideways_out.mkv)" \
            "$(ff -i frames/f%03d_t.png -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | awk -F, '{print $6}')" \
            "mkv: frames differ from the single form's, turned"
# A mirroring matrix is no turn: mkv cannot keep it, and the note names the clip.
with_matrix upright.mov mirrored.mov "$MIRROR"
run mirrored.mov mirrored_out.mkv 0.8 --video-codec ffv1
expect_status 0 "mirrored mov into mkv"
checks=$((checks + 1))
[[ $ERR == *"vantorel: note: mirrored.mov: the display matrix (not a turn by quarters) cannot be stored in mkv and is left out"* ]] ||
  fail "mirrored mov into mkv: stderr '$ERR'"

# A batch over a folder of pictures and clips; --video-format for the clips, --format for the pictures.
mkdir mixed
cp pan.mkv turned.mp4 mixed/ && cp "$SAMPLE" mixed/photo.jpg
run -o mixed_out -t 0.8 --video-format mkv --format png mixed
expect_status 0 "batch"
checks=$((checks + 1))
[[ $(cd mixed_out && ls | tr '\n' ' ') == "pan.mkv photo.png turned.mkv " ]] || fail "batch: results $(ls mixed_out)"
expect_same "$(video_times mixed_out/turned.mkv)" "$(video_times turned.mp4)" "batch: frame times differ"

# Bad input: one line naming the file and why, status 1, nothing written.
ff -f lavfi -i "sine=duration=1" -c:a flac sound_only.mkv
ff -f lavfi -i "testsrc2=size=160x120:rate=25:duration=1" -frames:v 0 -c:v ffv1 no_frames.mkv
ff -f lavfi -i "testsrc2=size=160x120:rate=25:duration=1" -c:v libx264 h264.mkv
/usr/bin/python3 - <<'PY'
data = open('h264.mkv', 'rb').read()
# A codec no decoder knows, under a name of the same length.
open('unknown_codec.mkv', 'wb').write(data.replace(b'V_MPEG4/ISO/AVC', b'V_VANTOREL/NONE'))
# Cut off after the header (before the first cluster), and within the first frame's cluster.
cluster = open('pan.mkv', 'rb').read().index(bytes.fromhex('1F43B675'))
open('cut_header.mkv', 'wb').write(open('pan.mkv', 'rb').read()[:cluster])
open('cut_first_frame.mkv', 'wb').write(open('pan.mkv', 'rb').read()[:cluster + 40])
PY
head -c 3000 plain.mp4 >cut.mp4
while read -r source reason; do
  run "$source" bad_out.mkv 0.8
  expect_status 1 "$source"
  expect_stderr_one_line_with "$source: $reason" "$source"
  expect_no_file bad_out.mkv "$source"
done <<'CASES'
sound_only.mkv no video stream
no_frames.mkv it ends before its first frame
unknown_codec.mkv its video codec (none) cannot be decoded
cut_header.mkv it ends before its first frame
cut_first_frame.mkv no frame could be decoded
cut.mp4 not a clip that can be read
CASES
# Damaged in the middle: written with what decodes, and a note names the file and how many
# frames were left out.
# scramble SOURCE RESULT BYTES: SOURCE with BYTES bytes from its middle on flipped.
scramble() {
  /usr/bin/python3 -c "
import sys
d = bytearray(open(sys.argv[1], 'rb').read())
for i in range(len(d) // 2, len(d) // 2 + int(sys.argv[3])): d[i] ^= 0x5a
open(sys.argv[2], 'wb').write(d)" "$@"
}
# expect_frames_left_out SOURCE RESULT FRAMES WHAT [OPTION...]: the run succeeds, its note
# counts at least one damaged frame, and the result has FRAMES less that count.
expect_frames_left_out() {
  local source=$1 result=$2 frames=$3 what=$4
  shift 4
  run "$source" "$result" 0.8 "$@"
  expect_status 0 "$what"
  checks=$((checks + 2))
  left_out=$(sed -n "s/^vantorel: note: $source: \([0-9]*\) damaged frames\{0,1\} left out\$/\1/p" err.txt)
  [[ -n $left_out && $left_out -ge 1 ]] || fail "$what: no note of the frames left out (stderr: $ERR)"
  written=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$result")
  [[ $written -eq $((frames - ${left_out:-0})) ]] || fail "$what: $written frames written, $left_out left out of $frames"
}
# H.264 bytes scrambled halfway.
ff -f lavfi -i "testsrc2=size=320x240:rate=25:duration=4" -c:v libx264 -g 25 whole.mp4
scramble whole.mp4 damaged.mp4 300
expect_frames_left_out damaged.mp4 damaged_out.mp4 100 "damaged clip"
# FFV1 with slice checksums: the decoder mends a damaged slice from the frame before and
# flags nothing but its message; the frame is still counted and left out.
ff -f lavfi -i "testsrc2=size=320x240:rate=10:duration=3" -c:v ffv1 -level 3 -slicecrc 1 -pix_fmt bgr0 whole.mkv
scramble whole.mkv damaged.mkv 200
expect_frames_left_out damaged.mkv damaged_out.mkv 30 "damaged ffv1 clip" --video-codec ffv1
# A container and codec that cannot go together are refused before any work.
run pan.mkv wrong.mp4 0.8 --video-codec ffv1
expect_status 1 "ffv1 in mp4"
expect_stderr_one_line_with "wrong.mp4: ffv1 video is written in mkv only" "ffv1 in mp4"
expect_no_file wrong.mp4 "ffv1 in mp4"

# SIGINT or SIGTERM in the middle: 130 or 143, no result, no temporary file. Job control, so
# that the background run does not start with SIGINT ignored.
ff -f lavfi -i "testsrc2=size=320x240:rate=25:duration=20" -c:v ffv1 -pix_fmt bgr0 long.mkv
set -m
for signal in INT TERM; do
  "$VANTOREL" long.mkv "long_$signal.mkv" 0.8 >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 1 200); do
    [[ -n $(find . -maxdepth 1 -name ".long_$signal.mkv.tmp-*") ]] && break
    sleep 0.05
  done
  sleep 0.5
  kill -s "$signal" $pid
  wait $pid 2>/dev/null
  STATUS=$?
  ERR=""
  expect_status "$([[ $signal == INT ]] && echo 130 || echo 143)" "SIG$signal"
  expect_no_file "long_$signal.mkv" "SIG$signal"
done

# The same stop in a batch that has reached a clip: the pictures done before it stay, the
# clip leaves nothing behind.
mkdir stopped && cp "$SAMPLE" stopped/a.jpg && cp long.mkv stopped/z.mkv
"$VANTOREL" -q -o stopped_out -t 0.8 stopped >/dev/null 2>&1 &
pid=$!
for _ in $(seq 1 200); do
  [[ -n $(find stopped_out -maxdepth 1 -name ".z.mkv.tmp-*" 2>/dev/null) ]] && break
  sleep 0.05
done
sleep 0.5
kill -s INT $pid
wait $pid 2>/dev/null
STATUS=$?
ERR=""
expect_status 130 "SIGINT in a batch's clip"
expect_no_file stopped_out/z.mkv "SIGINT in a batch's clip"
checks=$((checks + 1))
[[ -f stopped_out/a.jpg ]] || fail "SIGINT in a batch's clip: the picture done before it is gone"
set +m

# A bright object crossing the lower part of a still scene: the upper part's mean luma
# steadies with the window, and changes by more than a level from frame to frame without it.
ff -loop 1 -framerate 25 -i "$SAMPLE" -f lavfi -i "color=white:s=60x50:r=25" \
   -filter_complex "[0:v]scale=320:-2,crop=320:200:0:0,eq=brightness=-0.15[b];[b][1:v]overlay=x='n*9':y=145" \
   -frames:v 30 -c:v ffv1 -pix_fmt bgr0 crossing.mkv
largest_change() {
  ff -i "$1" -vf "crop=320:60:0:0,signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-" -f null - |
    grep YAVG | cut -d= -f2 | awk 'NR>1{d=$1-p; if(d<0)d=-d; if(d>m)m=d} {p=$1} END{printf "%.3f", m}'
}
for window in 1 0; do
  run crossing.mkv "crossing_$window.mkv" 0.8 --video-codec ffv1 --temporal-window $window
  expect_status 0 "crossing, window $window"
done
steady=$(largest_change crossing_1.mkv)
alone=$(largest_change crossing_0.mkv)
checks=$((checks + 2))
awk "BEGIN{exit !($steady < 0.25)}" || fail "crossing: the window lets the mean luma change by $steady"
awk "BEGIN{exit !($alone > 1.0)}" || fail "crossing: frame by frame the mean luma changes by only $alone"

finish
