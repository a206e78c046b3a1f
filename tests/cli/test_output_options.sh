# Output options, checked on the written files: JPEG quality (from the quantisation
# table), lossy WebP, PNG compression, and --strip-metadata keeping the ICC profile.
source "$(dirname "$0")/lib.sh"
TEST_METADATA=$(dirname "$TEST_IMAGE")/test_metadata

"$TEST_IMAGE" make gradient 64 48 scene.png

# The first value of the first quantisation table (the luminance DC step): libjpeg scales
# its base value 16 by the quality: 2 at 95, 16 at 50, 40 at 20.
first_quant_step() {
  local offset
  offset=$(LC_ALL=C grep -obUaP '\xff\xdb' "$1" | head -n 1 | cut -d: -f1)
  od -An -tu1 -j $((offset + 5)) -N1 "$1" | tr -d ' '
}

run scene.png default.jpg
expect_status 0 "default JPEG"
run --jpeg-quality 50 scene.png q50.jpg
expect_status 0 "--jpeg-quality 50"
run -o batch --format jpg --jpeg-quality 20 scene.png
expect_status 0 "--jpeg-quality 20 in a batch"
checks=$((checks + 3))
[[ $(first_quant_step default.jpg) == 2 ]] || fail "default JPEG: DC step $(first_quant_step default.jpg), expected 2 (quality 95)"
[[ $(first_quant_step q50.jpg) == 16 ]] || fail "--jpeg-quality 50: DC step $(first_quant_step q50.jpg)"
[[ $(first_quant_step batch/scene.jpg) == 40 ]] || fail "--jpeg-quality 20: DC step $(first_quant_step batch/scene.jpg)"

# WebP: lossless (VP8L) unless a quality is given, then lossy (VP8).
run scene.png lossless.webp
run --webp-quality 60 scene.png lossy.webp
expect_status 0 "--webp-quality"
checks=$((checks + 2))
[[ $(dd if=lossless.webp bs=1 skip=12 count=4 status=none) == VP8L ]] || fail "default WebP is not lossless"
[[ $(dd if=lossy.webp bs=1 skip=12 count=4 status=none) == "VP8 " ]] || fail "--webp-quality: not lossy"

# PNG: the level changes the size, never the pixels.
run --png-compression 0 scene.png level0.png
run --png-compression 9 scene.png level9.png
expect_status 0 "--png-compression"
checks=$((checks + 2))
[[ $(stat -c %s level0.png) -gt $(stat -c %s level9.png) ]] || fail "--png-compression: level 0 is not larger than 9"
"$TEST_IMAGE" same level0.png level9.png || fail "--png-compression: the pixels differ"

# Out of range: one line, nothing written.
for args in "--jpeg-quality 0" "--jpeg-quality 101" "--webp-quality 0" "--png-compression 10" "--jpeg-quality x"; do
  run $args scene.png bad.jpg
  expect_status 1 "$args"
  expect_stderr_one_line_with "${args%% *}" "$args"
  expect_no_file bad.jpg "$args"
done

# --transmission-map in the single form: the source's size, one 8-bit channel, not flat;
# the result is the one written without it.
run --transmission-map map.png scene.png with_map.png 0.9
expect_status 0 "--transmission-map"
expect_image map.png "64 48 1 8" "--transmission-map"
run scene.png without_map.png 0.9
checks=$((checks + 2))
cmp -s with_map.png without_map.png || fail "--transmission-map changed the result"
read -r low high < <("$TEST_IMAGE" range map.png)
[[ $low -lt $high && $high -le 255 ]] || fail "--transmission-map: flat or out of range: $low .. $high"
run --transmission-map map.exr scene.png refused.png 0.9
expect_status 1 "--transmission-map to a format without grey"
expect_stderr_one_line_with "map.exr: this file format cannot hold a grey picture" "--transmission-map .exr"
expect_no_file refused.png "--transmission-map .exr"

# --strip-metadata: no EXIF, XMP or IPTC in any format that could carry them; the ICC
# profile stays, and no note is needed. The pixels are those of a run that keeps them.
"$TEST_METADATA" make-marked 40 24 tagged.jpg && "$TEST_METADATA" tag tagged.jpg 6
icc_line=$("$TEST_METADATA" show tagged.jpg | grep '^icc=')
for ext in jpg png webp tif; do
  run --strip-metadata tagged.jpg "stripped.$ext"
  expect_status 0 "--strip-metadata .$ext"
  checks=$((checks + 3))
  [[ -z $ERR ]] || fail "--strip-metadata .$ext: stderr '$ERR'"
  shown=$("$TEST_METADATA" show "stripped.$ext")
  [[ $(grep -v '^icc=' <<<"$shown" | grep -v '=(none)$' | grep -v '^thumbnail=no$') == "" ]] ||
    fail "--strip-metadata .$ext: fields left: $shown"
  grep -qx "$icc_line" <<<"$shown" || fail "--strip-metadata .$ext: the profile was lost"
done
run tagged.jpg kept.png
checks=$((checks + 1))
"$TEST_IMAGE" same kept.png stripped.png || fail "--strip-metadata changed the pixels"

finish
