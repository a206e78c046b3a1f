# The processor-specific code paths change nothing: with VANTOREL_PLAIN_CODE=1 (plain code
# only), with VANTOREL_NO_AVX512=1 (AVX2 where AVX-512 would run) and with one thread the
# tool writes the same bytes as with its defaults.
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
  VANTOREL_NO_AVX512=1 run "$input" no_avx512.png 0.9
  expect_status 0 "$kind $width x $height, no AVX-512"
  checks=$((checks + 3))
  cmp -s default.png plain.png || fail "$kind $width x $height: plain code gave other bytes"
  cmp -s default.png plain_one_thread.png || fail "$kind $width x $height: one thread gave other bytes"
  cmp -s default.png no_avx512.png || fail "$kind $width x $height: AVX2 instead of AVX-512 gave other bytes"
done <<'CASES'
noise 333 257
gradient 640 480
noise 7 5
CASES

finish
