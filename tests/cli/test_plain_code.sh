# The processor-specific code paths change nothing: with VANTOREL_PLAIN_CODE=1 (plain code
# only) and with one thread the tool writes the same bytes as with its defaults.
source "$(dirname "$0")/lib.sh"

while read -r kind width height; do
  input="in_${kind}_${width}x${height}.png"
  "$TEST_IMAGE" make "$kind" "$width" "$height" "$input" || exit 1
  run "$input" default.png 0.9
  expect_status 0 "$kind $width x $height, defaults"
  VANTOREL_PLAIN_CODE=1 run "$input" plain.png 0.9
  expect_status 0 "$kind $width x $height, plain code"
  VANTOREL_PLAIN_CODE=1 VANTOREL_THREADS=1 run "$input" plain_one_thread.png 0.9
  expect_status 0 "$kind $width x $height, plain code on one thread"
  checks=$((checks + 2))
  cmp -s default.png plain.png || fail "$kind $width x $height: plain code gave other bytes"
  cmp -s default.png plain_one_thread.png || fail "$kind $width x $height: one thread gave other bytes"
done <<'CASES'
noise 333 257
gradient 640 480
noise 7 5
CASES

finish
