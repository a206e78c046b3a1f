# Shared helpers for the command-line tests. Each test script is run by ctest as
#   bash test_X.sh VANTOREL TEST_IMAGE SOURCE_DIR
# and works in a scratch folder that is removed afterwards.
set -uo pipefail

VANTOREL=$1
TEST_IMAGE=$2
SOURCE_DIR=$3
SCRATCH=$(mktemp -d)
trap 'chmod -R u+w "$SCRATCH"; rm -rf "$SCRATCH"' EXIT
cd "$SCRATCH" || exit 1

failures=0
checks=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# run ARGS...: runs vantorel, keeping stdout, stderr and the status in OUT, ERR, STATUS.
run() {
  "$VANTOREL" "$@" >out.txt 2>err.txt
  STATUS=$?
  OUT=$(cat out.txt)
  ERR=$(cat err.txt)
}

expect_status() {
  checks=$((checks + 1))
  [[ $STATUS -eq $1 ]] || fail "$2: status $STATUS, expected $1 (stderr: $ERR)"
}

expect_stdout() {
  checks=$((checks + 1))
  [[ "$OUT" == "$1" ]] || fail "$2: stdout was '$OUT', expected '$1'"
}

expect_stderr_one_line_with() {
  checks=$((checks + 1))
  local lines
  lines=$(wc -l <err.txt)
  [[ $lines -eq 1 && "$ERR" == *"$1"* ]] || fail "$2: stderr should be one line naming '$1', was '$ERR'"
}

expect_no_file() {
  checks=$((checks + 1))
  [[ ! -e $1 ]] || fail "$2: $1 should not exist"
  local leftovers
  leftovers=$(find "$(dirname "$1")" -maxdepth 1 -name '.*.tmp-*' | head -n 1)
  [[ -z $leftovers ]] || fail "$2: temporary file left behind: $leftovers"
}

# expect_image PATH "W H C BITS" WHAT
expect_image() {
  checks=$((checks + 1))
  local info
  info=$("$TEST_IMAGE" info "$1" 2>&1)
  [[ "$info" == "$2" ]] || fail "$3: $1 decodes as '$info', expected '$2'"
}

# True for a build with AddressSanitizer, whose address space is mostly shadow memory: an
# address-space limit (ulimit -v) cannot even start the program there.
# (ldd's whole output is taken first: grep -q would stop reading, and under pipefail the
# pipe's failure would hide the match.)
sanitized_build() {
  local libraries
  libraries=$(ldd "$VANTOREL" 2>/dev/null)
  [[ "$libraries" == *libasan* ]]
}

finish() {
  echo "$((checks - failures)) passed, $failures failed"
  [[ $failures -eq 0 ]]
}
