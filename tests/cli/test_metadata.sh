# Camera data, XMP, IPTC and colour profile: carried from the source to the result.
source "$(dirname "$0")/lib.sh"
# Built beside test_image: writes and reads the metadata (see tests/tools/test_metadata.cpp).
TEST_METADATA=$(dirname "$TEST_IMAGE")/test_metadata

# The fields that `test_metadata tag` writes, as `show` prints them for a picture that was
# turned upright: orientation 1, the upright size, no thumbnail.
icc_line=$("$TEST_METADATA" make-marked 8 8 icc.jpg && "$TEST_METADATA" tag icc.jpg 1 &&
           "$TEST_METADATA" show icc.jpg | grep '^icc=')
[[ $icc_line == "icc=300 bytes, hash "* ]] || { echo "FAIL: cannot make a profile: $icc_line"; exit 1; }
upright_fields="Exif.Image.Make=Vantorel Test
Exif.Image.Model=VT-100
Exif.Photo.DateTimeOriginal=2021:06:05 14:03:27
Exif.Image.Orientation=1
Exif.Photo.PixelXDimension=24
Exif.Photo.PixelYDimension=40
Xmp.photoshop.City=Testville
Xmp.xmp.Rating=4
Xmp.tiff.Orientation=1
Iptc.Application2.Caption=Hazy test scene
$icc_line
thumbnail=no"

# expect_fields PATH EXPECTED WHAT
expect_fields() {
  checks=$((checks + 1))
  local shown
  shown=$("$TEST_METADATA" show "$1" 2>&1)
  [[ "$shown" == "$2" ]] || fail "$3: metadata of $1 differs: $(diff <(echo "$2") <(echo "$shown") | tr '\n' ' ')"
}

# expect_red_quarter PATH QUARTER WHAT: where the red quarter lies in the stored pixels.
expect_red_quarter() {
  checks=$((checks + 1))
  local quarter
  quarter=$("$TEST_METADATA" red-quarter "$1" 2>&1)
  [[ "$quarter" == "$2" ]] || fail "$3: red quarter of $1 is '$quarter', expected '$2'"
}

expect_quiet_success() {
  expect_status 0 "$1"
  checks=$((checks + 1))
  [[ -z "$ERR" ]] || fail "$1: stderr should be empty, was '$ERR'"
}

# A 40 x 24 picture stored sideways (orientation 6: turn right to view), red in its stored
# top-left quarter. Viewed upright it is 24 x 40 with the red quarter at the top right.
# JPEG, PNG (EXIF in an eXIf chunk, which the image library reads) and TIFF sources.
"$TEST_METADATA" make-marked 40 24 side.jpg && "$TEST_METADATA" tag side.jpg 6
"$TEST_METADATA" make-marked 40 24 side.png && "$TEST_METADATA" tag side.png 6 exif-chunk
"$TEST_METADATA" make-marked 40 24 side.tif && "$TEST_METADATA" tag side.tif 6
for source in side.jpg side.png side.tif; do
  for ext in jpg png tif; do
    result="out_${source%.*}_${source#*.}.$ext"
    run "$source" "$result" 0.9
    expect_quiet_success "$source -> $result"
    expect_image "$result" "24 40 3 8" "$source -> $result: upright size"
    expect_red_quarter "$result" top-right "$source -> $result: upright pixels"
    expect_fields "$result" "$upright_fields" "$source -> $result"
  done
done

# The result may replace the source: its metadata is read before it is replaced.
cp side.jpg inplace.jpg
run inplace.jpg inplace.jpg
expect_quiet_success "result path equal to source path"
expect_fields inplace.jpg "$upright_fields" "result path equal to source path"

# EXIF that the image library does not read (exiv2's PNG text chunk) leaves the pixels as
# stored: the result keeps the orientation, so that it is shown as the source is.
"$TEST_METADATA" make-marked 40 24 unturned.png && "$TEST_METADATA" tag unturned.png 6
run unturned.png out_unturned.png
expect_quiet_success "orientation unread by the image library"
expect_image out_unturned.png "40 24 3 8" "orientation unread by the image library"
expect_red_quarter out_unturned.png top-left "orientation unread by the image library"
checks=$((checks + 2))
"$TEST_METADATA" show out_unturned.png | grep -qx "Exif.Image.Orientation=6" ||
  fail "orientation unread by the image library: orientation not kept"
"$TEST_METADATA" show out_unturned.png | grep -qx "Exif.Photo.PixelXDimension=40" ||
  fail "orientation unread by the image library: width changed"

# The metadata changes no pixel: a tagged and an untagged source give the same picture.
"$TEST_METADATA" make-marked 40 24 plain.jpg
cp plain.jpg tagged.jpg && "$TEST_METADATA" tag tagged.jpg 1
run plain.jpg out_plain.png
expect_quiet_success "untagged source"
run tagged.jpg out_tagged.png
expect_quiet_success "tagged source, orientation 1"
checks=$((checks + 1))
"$TEST_IMAGE" same out_plain.png out_tagged.png || fail "the metadata changed the pixels"
checks=$((checks + 1))
"$TEST_METADATA" show out_plain.png | grep -qx "icc=(none)" || fail "untagged source: a profile appeared"

# A format that cannot carry metadata: the result is written, and one note says what was lost.
run side.jpg out.bmp
expect_status 0 "BMP result"
expect_stderr_one_line_with "out.bmp" "BMP result"
checks=$((checks + 1))
[[ "$ERR" == *"EXIF, XMP, IPTC and ICC profile"* ]] || fail "BMP result: note does not list what was lost: $ERR"
expect_image out.bmp "24 40 3 8" "BMP result"

# WebP keeps EXIF, XMP and the profile; the IPTC is named as left out.
run side.jpg out.webp
expect_status 0 "WebP result"
expect_stderr_one_line_with "IPTC" "WebP result"
expect_image out.webp "24 40 3 8" "WebP result"
expect_red_quarter out.webp top-right "WebP result"
expect_fields out.webp "${upright_fields/Iptc.Application2.Caption=Hazy test scene/Iptc.Application2.Caption=(none)}" \
  "WebP result"

# A WebP source: the image library does not turn it, so the orientation is kept.
"$TEST_METADATA" make-marked 40 24 side.webp && "$TEST_METADATA" tag side.webp 6
run side.webp out_webp.jpg
expect_quiet_success "WebP source"
expect_red_quarter out_webp.jpg top-left "WebP source"
checks=$((checks + 2))
"$TEST_METADATA" show out_webp.jpg | grep -qx "Exif.Image.Orientation=6" || fail "WebP source: orientation not kept"
"$TEST_METADATA" show out_webp.jpg | grep -qx "$icc_line" || fail "WebP source: profile lost"

# Damaged EXIF. "Exif\0\0" is followed by the EXIF block: byte order "II", 42, the offset
# of the first directory, which starts with its entry count.
"$TEST_METADATA" make-marked 40 24 damaged.jpg && "$TEST_METADATA" tag damaged.jpg 1
exif_block=$(($(grep -obUaP 'Exif\x00\x00' damaged.jpg | head -n 1 | cut -d: -f1) + 6))
checks=$((checks + 1))
[[ $(dd if=damaged.jpg bs=1 skip=$exif_block count=2 status=none) == II ]] || fail "EXIF block not found"
cp damaged.jpg unreadable.jpg
# An absurd entry count: exiv2 skips the directory and reads the rest.
first_directory=$(od -An -tu4 -j $((exif_block + 4)) -N4 damaged.jpg | tr -d ' ')
printf '\xff\x7f' | dd of=damaged.jpg bs=1 seek=$((exif_block + first_directory)) conv=notrunc status=none
run damaged.jpg out_damaged.jpg
expect_status 0 "damaged EXIF directory"
expect_stderr_one_line_with "damaged.jpg: some of the metadata could not be read" "damaged EXIF directory"
expect_image out_damaged.jpg "40 24 3 8" "damaged EXIF directory"
checks=$((checks + 2))
"$TEST_METADATA" show out_damaged.jpg | grep -qx "Xmp.photoshop.City=Testville" || fail "damaged EXIF directory: XMP lost"
"$TEST_METADATA" show out_damaged.jpg | grep -qx "$icc_line" || fail "damaged EXIF directory: profile lost"
# A byte order that is neither "II" nor "MM": exiv2 gives up on the whole file, yet the
# profile, XMP and IPTC are intact and kept; the note names the EXIF alone. Into each
# format that carries them, and from a PNG source whose EXIF chunk is damaged the same way.
printf 'XX' | dd of=unreadable.jpg bs=1 seek=$exif_block conv=notrunc status=none
"$TEST_METADATA" make-marked 40 24 unreadable.png && "$TEST_METADATA" tag unreadable.png 1 exif-chunk
png_exif=$(($(grep -obUaP 'eXIf' unreadable.png | head -n 1 | cut -d: -f1) + 4))
printf 'XX' | dd of=unreadable.png bs=1 seek=$png_exif conv=notrunc status=none
# The chunk's CRC must still hold for the PNG to be read at all.
"$TEST_METADATA" fix-png-crc unreadable.png
for source in unreadable.jpg unreadable.png; do
  for ext in jpg png webp; do
    result="out_${source%.*}_${source#*.}.$ext"
    run "$source" "$result"
    expect_status 0 "unreadable EXIF, $source -> $ext"
    # In a photographer's words, saying what was kept, without the library's error codes.
    kept="colour profile, XMP and IPTC kept"
    [[ $ext == webp ]] && kept="colour profile and XMP kept"
    expect_stderr_one_line_with "$source: camera data could not be read and was left out; $kept" \
      "unreadable EXIF, $source -> $ext"
    checks=$((checks + 1))
    [[ $ERR != *"("* && $ERR != *rror* ]] || fail "unreadable EXIF, $source -> $ext: library words in '$ERR'"
    expect_image "$result" "40 24 3 8" "unreadable EXIF, $source -> $ext"
    shown=$("$TEST_METADATA" show "$result")
    checks=$((checks + 3))
    grep -qx "Xmp.photoshop.City=Testville" <<<"$shown" || fail "unreadable EXIF, $source -> $ext: XMP lost"
    grep -qx "$icc_line" <<<"$shown" || fail "unreadable EXIF, $source -> $ext: profile lost"
    grep -q "^Exif.Image.Make=(none)" <<<"$shown" || fail "unreadable EXIF, $source -> $ext: EXIF written: $shown"
    if [[ $ext != webp ]]; then
      checks=$((checks + 1))
      grep -qx "Iptc.Application2.Caption=Hazy test scene" <<<"$shown" || fail "unreadable EXIF, $source -> $ext: IPTC lost"
    fi
  done
done

# A failed write says so in one line, without a note about metadata, and leaves nothing.
run side.jpg no_such_dir/out.jpg
expect_status 1 "missing folder"
expect_stderr_one_line_with "no_such_dir/out.jpg" "missing folder"

finish
