# Damaged, unusual and extreme sources through the real executable. Each run either
# writes a valid 3-channel 8-bit result of the source's size, or says one line on
# stderr and ends with status 1 leaving no result file; it never crashes, hangs or
# leaves a partial or temporary file.
source "$(dirname "$0")/lib.sh"

summary=()

# try_case NAME SOURCE RESULT EXPECT [WIDTH HEIGHT]
#   EXPECT  ok: a result of WIDTH x HEIGHT; refused: one error line and status 1;
#           either: one of the two, whichever the codecs decide.
try_case() {
  # layout: the result's channels and bits, "3 8" unless the source keeps more.
  local name=$1 source=$2 result=$3 expect=$4 width=${5:-} height=${6:-} layout=${7:-3 8}
  [[ "$result" == "$source" ]] || rm -f -- "$result"
  timeout 120 "$VANTOREL" "$source" "$result" 0.9 >out.txt 2>err.txt
  STATUS=$?
  ERR=$(cat err.txt)
  checks=$((checks + 1))
  case $STATUS in
    0)
      summary+=("$name: ok")
      [[ $expect != refused ]] || fail "$name: accepted, expected a refusal"
      [[ -z "$ERR" ]] || fail "$name: succeeded but wrote to stderr: $ERR"
      if [[ -n $width ]]; then
        expect_image "$result" "$width $height $layout" "$name"
      else
        expect_image_of_any_size "$result" "$name"
      fi
      ;;
    1)
      summary+=("$name: refused: $ERR")
      [[ $expect != ok ]] || fail "$name: refused, expected a result: $ERR"
      expect_stderr_one_line_with "vantorel: " "$name"
      [[ "$result" == "$source" ]] || expect_no_file "$result" "$name"
      ;;
    124) fail "$name: still running after 120 s" ;;
    *) fail "$name: ended with status $STATUS: $ERR" ;;
  esac
  expect_no_temp_files "$result" "$name"
}

expect_image_of_any_size() {
  checks=$((checks + 1))
  [[ $("$TEST_IMAGE" info "$1" 2>&1) =~ ^[0-9]+\ [0-9]+\ 3\ 8$ ]] || fail "$2: $1 is not a 3-channel 8-bit image"
}

expect_no_temp_files() {
  checks=$((checks + 1))
  local leftovers
  leftovers=$(find "$(dirname "$1")" -maxdepth 1 -name '.*.tmp-*' | head -n 1)
  [[ -z $leftovers ]] || fail "$2: temporary file left behind: $leftovers"
}

# file_size PATH
file_size() { stat -c %s "$1"; }

"$TEST_IMAGE" make gradient 64 48 good.jpg || exit 1
"$TEST_IMAGE" make gradient 64 48 good.png || exit 1

# Not pictures at all.
: >empty.jpg
try_case "empty file" empty.jpg out.png refused
echo "just some text, not a picture" >text.jpg
try_case "text named .jpg" text.jpg out.png refused
cp good.png png_data.jpg
try_case "PNG data named .jpg" png_data.jpg out.png ok 64 48

# Truncated files: the header alone, and half of the file.
head -c 100 good.jpg >jpeg_header_only.jpg
try_case "JPEG header only" jpeg_header_only.jpg out.png refused
head -c $(($(file_size good.jpg) / 2)) good.jpg >jpeg_half.jpg
try_case "JPEG cut in half" jpeg_half.jpg out.png either 64 48
head -c 33 good.png >png_header_only.png
try_case "PNG header only" png_header_only.png out.png refused
head -c $(($(file_size good.png) / 2)) good.png >png_half.png
try_case "PNG cut in half" png_half.png out.png either 64 48

# A header claiming 100000 x 100000 pixels: refused before decoding, naming the size.
"$TEST_IMAGE" craft claimed_size 100000 100000 claims_huge.png || exit 1
try_case "PNG claiming 100000 x 100000" claims_huge.png out.png refused
checks=$((checks + 1))
[[ "$ERR" == *"100000 x 100000"* ]] || fail "huge claim: the message does not name the size: $ERR"

# A format whose size is not read ahead: the image library's own pixel limit refuses it.
"$TEST_IMAGE" craft claimed_size_bmp 100000 100000 claims_huge.bmp || exit 1
try_case "BMP claiming 100000 x 100000" claims_huge.bmp out.png refused

# Encodings and sample layouts the codecs have to convert.
"$TEST_IMAGE" craft cmyk 37 21 cmyk.jpg || exit 1
try_case "CMYK JPEG" cmyk.jpg out.png ok 37 21
"$TEST_IMAGE" make progressive 61 43 progressive.jpg || exit 1
try_case "progressive JPEG" progressive.jpg out.png ok 61 43
"$TEST_IMAGE" craft palette 45 30 palette.png || exit 1
try_case "palette PNG" palette.png out.png ok 45 30
"$TEST_IMAGE" craft grey_alpha 45 30 grey_alpha.png || exit 1
# Grey with alpha keeps its alpha: grey in three channels, as PNG is written here.
try_case "grey with alpha" grey_alpha.png out.png ok 45 30 "4 8"
"$TEST_IMAGE" make gray16 45 30 grey16.png || exit 1
try_case "16-bit grey" grey16.png out.png ok 45 30 "1 16"
"$TEST_IMAGE" make rgb16 45 30 colour16.png || exit 1
try_case "16-bit colour" colour16.png out.png ok 45 30 "3 16"

# Extreme sizes.
for size in "1 1" "1 500" "500 1" "2 2"; do
  read -r w h <<<"$size"
  "$TEST_IMAGE" make gradient "$w" "$h" "size_${w}x$h.png" || exit 1
  try_case "${w} x ${h}" "size_${w}x$h.png" out.png ok "$w" "$h"
done

# Extreme content.
for kind in grey black white red noise dark; do
  "$TEST_IMAGE" make "$kind" 40 30 "content_$kind.png" || exit 1
  try_case "$kind picture" "content_$kind.png" "out_$kind.png" ok 40 30
done

# Awkward names: blanks and non-ASCII letters, upper-case extensions.
mkdir "folder with blanks ü"
"$TEST_IMAGE" make gradient 30 20 "folder with blanks ü/photo à Zürich.png" || exit 1
try_case "blanks and non-ASCII letters" "folder with blanks ü/photo à Zürich.png" \
  "folder with blanks ü/résultat ñ.jpg" ok 30 20
"$TEST_IMAGE" make gradient 30 20 UPPER.JPG || exit 1
try_case "upper-case extensions" UPPER.JPG RESULT.PNG ok 30 20

# The result path equal to the source path: replaced by the result, or, when the
# source is unreadable, left exactly as it was.
cp good.png same.png
try_case "result path equal to the source path" same.png same.png ok 64 48
cp text.jpg same_bad.jpg
try_case "unreadable source as its own result path" same_bad.jpg same_bad.jpg refused
checks=$((checks + 1))
cmp -s text.jpg same_bad.jpg || fail "unreadable source as its own result path: the file changed"

printf '%s\n' "${summary[@]}"
finish
