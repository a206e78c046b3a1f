# Deep, transparent and grey pictures through the executable: 16-bit PNG and TIFF give
# 16-bit results without banding that reduce to the 8-bit result, alpha is carried exactly
# (or left out with a note), grey stays grey, and --depth chooses or is refused at once.
source "$(dirname "$0")/lib.sh"
TEST_METADATA=$(dirname "$TEST_IMAGE")/test_metadata

# A photo in 16 bits with a smooth sky (a gradient and noise below one 8-bit level), and
# the same reduced to 8 bits.
"$TEST_IMAGE" scale "$SOURCE_DIR/samples/hazy_mountains.jpg" 240 160 photo.png || exit 1
"$TEST_IMAGE" deepen photo.png deep.png || exit 1
"$TEST_IMAGE" deepen photo.png deep.tif || exit 1
"$TEST_IMAGE" reduce deep.png eight.png || exit 1
run eight.png r8.png 0.9
expect_status 0 "8-bit reduction"
for source in deep.png deep.tif; do
  run "$source" "r16_$source.png" 0.9
  expect_status 0 "16-bit $source"
  expect_image "r16_$source.png" "240 160 3 16" "16-bit $source"
  run "$source" "r16_$source.tif" 0.9
  expect_image "r16_$source.tif" "240 160 3 16" "16-bit $source into TIFF"
  checks=$((checks + 1))
  "$TEST_IMAGE" same "r16_$source.png" "r16_$source.tif" || fail "$source: the PNG and TIFF results differ"
done
checks=$((checks + 1))
"$TEST_IMAGE" same r16_deep.png.png r16_deep.tif.png || fail "the 16-bit PNG and TIFF sources give different results"
# The PNG source: at least 8 times the distinct sky values of the 8-bit result, and within
# 1.5 levels on average of it once reduced.
read -r distinct16 distinct8 mean largest x y channel <<<"$("$TEST_IMAGE" measure r16_deep.png.png r8.png)"
checks=$((checks + 2))
((distinct16 >= 8 * distinct8)) || fail "sky: $distinct16 distinct values in 16 bits, $distinct8 in 8 bits"
awk -v m="$mean" 'BEGIN { exit !(m <= 1.5) }' || fail "mean difference $mean levels (largest $largest at $x,$y)"
echo "sky values $distinct16 vs $distinct8; mean difference $mean, largest $largest at x $x y $y channel $channel"

# The depth asked for: 8 from a 16-bit source; 16 from an 8-bit source (its result widened).
run --depth 8 deep.png d8.png 0.9
expect_image d8.png "240 160 3 8" "--depth 8"
checks=$((checks + 1))
[[ $("$TEST_IMAGE" measure r16_deep.png.png d8.png | cut -d' ' -f4) -eq 0 ]] ||
  fail "--depth 8: not the 16-bit result reduced once"
run --depth 16 eight.png w16.png 0.9
expect_image w16.png "240 160 3 16" "--depth 16 from 8 bits"
# JPEG and WebP hold 8 bits: the default writes 8, --depth 16 is refused before any work.
run deep.png r.jpg 0.9
expect_image r.jpg "240 160 3 8" "16-bit source into JPEG"
for format in jpg webp; do
  run --depth 16 deep.png "refused.$format" 0.9
  expect_status 1 "--depth 16 into $format"
  expect_stderr_one_line_with "cannot hold 16 bits per channel" "--depth 16 into $format"
  checks=$((checks + 1))
  [[ -z $OUT ]] || fail "--depth 16 into $format: work was done: $OUT"
  expect_no_file "refused.$format" "--depth 16 into $format"
done
[[ $ERR == *WebP* ]] || fail "the refusal does not name WebP: $ERR"
run --depth 12 deep.png x.png
expect_status 1 "--depth 12"

# Alpha is carried exactly into PNG, TIFF and WebP, and left out of JPEG with a note.
"$TEST_IMAGE" make rgba 64 48 rgba.png || exit 1
"$TEST_IMAGE" make rgba16 64 48 rgba16.png || exit 1
for result in a.png a.tif a.webp; do
  run rgba.png "$result" 0.9
  expect_status 0 "alpha into $result"
  expect_image "$result" "64 48 4 8" "alpha into $result"
  checks=$((checks + 1))
  "$TEST_IMAGE" same-alpha rgba.png "$result" || fail "alpha into $result: not the source's alpha"
done
run rgba16.png a16.png 0.9
expect_image a16.png "64 48 4 16" "16-bit alpha"
checks=$((checks + 1))
"$TEST_IMAGE" same-alpha rgba16.png a16.png || fail "16-bit alpha: not the source's alpha"
# A sideways source (EXIF orientation 6, which the reader applies to PNG's eXIf chunk): its
# alpha is turned upright with its colour.
"$TEST_IMAGE" rotate rgba16.png upright_source.png || exit 1
cp rgba16.png sideways.png && "$TEST_METADATA" tag sideways.png 6 exif-chunk || exit 1
run sideways.png upright.png 0.9
expect_image upright.png "48 64 4 16" "sideways source with alpha"
checks=$((checks + 1))
"$TEST_IMAGE" same-alpha upright_source.png upright.png || fail "sideways source: the alpha was not turned with the colour"
run rgba.png a.jpg 0.9
expect_status 0 "alpha into JPEG"
expect_image a.jpg "64 48 3 8" "alpha into JPEG"
expect_stderr_one_line_with "vantorel: note: a.jpg: JPEG cannot hold transparency" "alpha into JPEG"

# A grey source gives a grey result, in its depth.
"$TEST_IMAGE" make gray8 64 48 grey.png || exit 1
"$TEST_IMAGE" make gray16 64 48 grey16.png || exit 1
for case in "grey.png g.png 1 8" "grey.png g.jpg 1 8" "grey16.png g16.png 1 16" "grey16.png g16.tif 1 16"; do
  read -r source result channels bits <<<"$case"
  run "$source" "$result" 0.9
  expect_status 0 "grey $source into $result"
  expect_image "$result" "64 48 $channels $bits" "grey $source into $result"
done

# Metadata is kept in 16-bit PNG and TIFF results as in 8-bit ones (the result's own size,
# and no thumbnail of the unprocessed picture).
cp deep.png tagged.png && "$TEST_METADATA" tag tagged.png 1 || exit 1
"$TEST_METADATA" show tagged.png | grep -v 'Dimension\|thumbnail' | sort >shown_source.txt
for result in m.png m.tif; do
  run tagged.png "$result" 0.9
  expect_status 0 "metadata into 16-bit $result"
  expect_image "$result" "240 160 3 16" "metadata into 16-bit $result"
  checks=$((checks + 1))
  "$TEST_METADATA" show "$result" | grep -v 'Dimension\|thumbnail' | sort | diff -q - shown_source.txt >/dev/null ||
    fail "16-bit $result: metadata not kept: $("$TEST_METADATA" show "$result" | head -5)"
done

finish
