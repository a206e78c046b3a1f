# Whole pictures through the real executable: the bundled sample and made-up scenes all
# come back as valid pictures of their own size.
source "$(dirname "$0")/lib.sh"

run "$SOURCE_DIR/samples/hazy_mountains.jpg" sample_out.png 0.9
expect_status 0 "bundled sample"
expect_image sample_out.png "1600 1066 3 8" "bundled sample"

while read -r kind width height; do
  "$TEST_IMAGE" make "$kind" "$width" "$height" "in_${kind}_${width}x${height}.png" || exit 1
  run "in_${kind}_${width}x${height}.png" "out_${kind}_${width}x${height}.png" 0.9
  expect_status 0 "$kind $width x $height"
  expect_image "out_${kind}_${width}x${height}.png" "$width $height 3 8" "$kind $width x $height"
done <<'CASES'
gradient 320 240
grey 64 48
black 40 30
gradient 1 1
gradient 1 500
gradient 500 1
noise 97 61
CASES

# An all-black picture stays black.
checks=$((checks + 1))
"$TEST_IMAGE" same in_black_40x30.png out_black_40x30.png || fail "all-black picture changed"

finish
