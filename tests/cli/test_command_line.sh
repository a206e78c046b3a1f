# The command-line contract: usage, thickness handling, unreadable sources, output errors.
source "$(dirname "$0")/lib.sh"

"$TEST_IMAGE" make gradient 40 30 scene.png || exit 1

# Fewer than two arguments: the four usage texts, byte for byte, and status 255.
usage=$'Usage: \nVantorel.exe source_image result_image haze_thickness\nnVantorel.exe foggy.jpg foggy_out.png 0.9\n\n\nNOTES:\nhaze_thickness: specify how hazy the scene is.\n'
# ...followed by one line that points to the batch form and the help.
usage+=$'Many pictures: vantorel -o DIR SOURCE...; every option: vantorel --help\n'
for args in "" "scene.png"; do
  "$VANTOREL" $args >usage.txt 2>/dev/null
  STATUS=$?
  checks=$((checks + 2))
  [[ $STATUS -eq 255 ]] || fail "usage with '$args': status $STATUS"
  cmp -s usage.txt <(printf '%s' "$usage") || fail "usage with '$args': text differs: $(od -c usage.txt | head -n 3)"
done

# Two arguments: thickness 1.0, processed.
run scene.png two_args.png
expect_status 0 "two arguments"
[[ "$OUT" =~ ^Time\ cost\ is\ [0-9]+\.[0-9]{3}$ ]] || fail "two arguments: timing line was '$OUT'"
expect_image two_args.png "40 30 3 8" "two arguments"

# Thickness 0.1 is processed (it rounds up as a float), 0.0999 is not.
run scene.png t_0_1.png 0.1
expect_status 0 "thickness 0.1"
expect_image t_0_1.png "40 30 3 8" "thickness 0.1"
for thickness in 0.0999 0 -0 0.01 1e-400; do
  run scene.png small.png "$thickness"
  expect_status 0 "thickness $thickness"
  expect_stdout "No need for dehaze. Exiting ..." "thickness $thickness"
  expect_no_file small.png "thickness $thickness"
done

# Thickness 1 is processed; a fourth argument and later ones change nothing.
run scene.png t_1.png 1
expect_status 0 "thickness 1"
run scene.png t_1_extra.png 1 extra more
expect_status 0 "extra arguments"
checks=$((checks + 1))
"$TEST_IMAGE" same t_1.png t_1_extra.png || fail "extra arguments changed the result"
checks=$((checks + 1))
"$TEST_IMAGE" same t_1.png two_args.png || fail "thickness 1 and the default differ"

# Thickness above 1 or negative: refused before any work, so a caller's status check fires.
for thickness in 1.5 1.0001 1e308 -0.9 -3; do
  run scene.png big.png "$thickness"
  expect_status 1 "thickness $thickness"
  expect_stderr_one_line_with "haze_thickness" "thickness $thickness"
  expect_no_file big.png "thickness $thickness"
done

# Thickness text that is not wholly a finite decimal number.
for thickness in abc 0,5 0.5x nan inf "" " 0.5" 0x1p-1 1e; do
  run scene.png bad.png "$thickness"
  expect_status 1 "thickness '$thickness'"
  expect_stderr_one_line_with "haze_thickness '$thickness'" "thickness '$thickness'"
  expect_no_file bad.png "thickness '$thickness'"
done

# A missing source and a source that is not an image.
run missing.jpg missing_out.png 0.9
expect_status 1 "missing source"
expect_stdout "Can't read image. Exit..." "missing source"
expect_stderr_one_line_with "missing.jpg" "missing source"
expect_no_file missing_out.png "missing source"
echo "not a picture" >text.jpg
run text.jpg text_out.png
expect_status 1 "text named .jpg"
expect_stdout "Can't read image. Exit..." "text named .jpg"
expect_stderr_one_line_with "text.jpg" "text named .jpg"
expect_no_file text_out.png "text named .jpg"

# An extension no encoder knows: nothing runs, nothing is written.
run scene.png out.unknownext
expect_status 1 "unknown extension"
expect_stderr_one_line_with "out.unknownext" "unknown extension"
expect_no_file out.unknownext "unknown extension"
run scene.png no_extension
expect_status 1 "no extension"
expect_no_file no_extension "no extension"

# An unwritable folder: status 1, an existing target left intact.
mkdir locked
cp scene.png locked/target.png
chmod 555 locked
if [[ $(id -u) -ne 0 ]]; then
  run scene.png locked/target.png
  expect_status 1 "unwritable folder"
  expect_stderr_one_line_with "locked/target.png" "unwritable folder"
  checks=$((checks + 1))
  "$TEST_IMAGE" same scene.png locked/target.png || fail "unwritable folder: existing target changed"
fi
chmod 755 locked
# A folder that does not exist (root can write anywhere, so this case runs for everyone).
run scene.png no_such_dir/out.png
expect_status 1 "missing folder"
expect_stderr_one_line_with "no_such_dir/out.png" "missing folder"
# The target is an existing folder: the rename fails and the folder is untouched.
mkdir target_dir.png
run scene.png target_dir.png
expect_status 1 "target is a folder"
checks=$((checks + 1))
[[ -d target_dir.png && -z $(ls -A target_dir.png) ]] || fail "target is a folder: folder changed"
expect_no_file target_dir.png/x "target is a folder"

# Grey, 16-bit and four-channel sources keep their channels and depth in PNG.
"$TEST_IMAGE" make gray8 33 21 grey.png
"$TEST_IMAGE" make gray16 33 21 grey16.png
"$TEST_IMAGE" make rgba 33 21 rgba.png
for case in "grey.png 1 8" "grey16.png 1 16" "rgba.png 4 8"; do
  read -r source channels bits <<<"$case"
  run "$source" "out_$source"
  expect_status 0 "$source"
  expect_image "out_$source" "33 21 $channels $bits" "$source"
done

# A result name at the file-name limit (255 bytes) is written all the same.
long_name=$(printf 'n%.0s' $(seq 251)).png
run scene.png "$long_name" 0.9
expect_status 0 "255-character result name"
expect_image "$long_name" "40 30 3 8" "255-character result name"

# The result may replace the source itself.
cp scene.png inplace.png
run inplace.png inplace.png 0.9
expect_status 0 "result path equal to source path"
expect_image inplace.png "40 30 3 8" "result path equal to source path"

finish
