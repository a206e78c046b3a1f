# A picture too large for the memory the process may use is refused before any work,
# with a message naming its size and the memory it needs; the same picture passes
# without the limit, and a small one passes under it.
source "$(dirname "$0")/lib.sh"

if sanitized_build; then
  echo "sanitized build: the address-space limit checks are skipped"
  checks=$((checks + 1))
  finish
  exit $?
fi
if ! command -v prlimit >/dev/null; then
  echo "prlimit is missing: nothing to check" >&2
  exit 1
fi

limit=$((512 * 1024 * 1024))
# The limits measure the tool's own needs: OpenBLAS, where it is the system's BLAS (the
# image library loads it), reserves address space for a pool of threads as it loads, and
# one thread reserves none.
"$TEST_IMAGE" make gradient 3000 2000 large.png || exit 1
"$TEST_IMAGE" make gradient 3000 2000 large.bmp || exit 1
"$TEST_IMAGE" make gradient 200 150 small.png || exit 1

# PNG: its header gives the size, so the picture is refused before it is decoded.
# BMP: refused after decoding, before the pipeline runs.
for source in large.png large.bmp; do
  OPENBLAS_NUM_THREADS=1 prlimit --as=$limit "$VANTOREL" "$source" limited.png 0.9 >out.txt 2>err.txt
  STATUS=$?
  ERR=$(cat err.txt)
  expect_status 1 "$source under a 512 MiB address-space limit"
  expect_stderr_one_line_with "3000 x 2000 pixels and needs about" "$source under the limit"
  checks=$((checks + 1))
  [[ "$ERR" =~ needs\ about\ [0-9.]+\ [MG]iB\ of\ memory,\ but\ only\ [0-9.]+\ [MG]iB\ is\ available ]] ||
    fail "$source under the limit: the message does not give both amounts: $ERR"
  expect_no_file limited.png "$source under the limit"
done

run large.png unlimited.png 0.9
expect_status 0 "large picture without a limit"
expect_image unlimited.png "3000 2000 3 8" "large picture without a limit"

OPENBLAS_NUM_THREADS=1 prlimit --as=$limit "$VANTOREL" small.png small_out.png 0.9 >out.txt 2>err.txt
STATUS=$?
ERR=$(cat err.txt)
expect_status 0 "small picture under the limit"
expect_image small_out.png "200 150 3 8" "small picture under the limit"

finish
