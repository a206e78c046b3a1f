# What a hostile or unlucky run meets: names with control characters, more jobs than the
# memory allows, a stop while a worker waits for memory, a full disk, a SIGKILL during a
# write, and the messages that send a new user the right way. (A worker blocked in a read
# that never returns is broken out of by the stop: tests/unit/test_worker_interrupter.cpp,
# since the reader no longer opens the FIFOs that could block it.)
source "$(dirname "$0")/lib.sh"

"$TEST_IMAGE" make gradient 64 48 scene.png

# Control characters in a name are escaped in every line: a newline cannot forge an "ok"
# line, an escape cannot start a terminal sequence. Batch and single form alike.
mkdir names
cp scene.png names/a.png
forged=$'x\nvantorel: 3 written, 0 failed, 0 skipped in 0.1 s'
echo "not a picture" >"names/$forged.png"
cp scene.png "names/$(printf 'red\033[31m.png')"
run -o names_out names
expect_status 1 "control characters in a batch"
checks=$((checks + 4))
[[ $(wc -l <err.txt) -eq 4 ]] || fail "control characters: a name broke a line: $ERR"
! grep -q $'\033' err.txt || fail "control characters: an escape reached the terminal: $(od -c err.txt | head)"
grep -qF 'failed: names/x\nvantorel: 3 written, 0 failed, 0 skipped in 0.1 s.png: ' err.txt ||
  fail "control characters: the forged name is not shown escaped: $ERR"
grep -qF 'names/red\x1b[31m.png -> names_out/red\x1b[31m.png, 64 x 48' err.txt ||
  fail "control characters: the escape is not shown as \\x1b: $ERR"
run "$(printf 'no\nsuch.png')" single.png
expect_stderr_one_line_with 'no\nsuch.png: ' "control characters in the single form"

# Under AddressSanitizer an address-space limit cannot even start the program (see
# lib.sh): the memory cases below need the plain build.
if sanitized_build; then
  echo "sanitized build: the address-space limit checks are skipped"
else
  # (OPENBLAS_NUM_THREADS=1: see test_memory_limits.sh.)
  # More jobs than the memory allows: under an address-space limit where one 3-megapixel
  # picture fits but not six at once, every picture that fits alone is written; one that
  # cannot fit even alone fails with its reason.
  mkdir memory
  for i in 1 2 3 4 5; do "$TEST_IMAGE" make gradient 2000 1500 "memory/p$i.png"; done
  "$TEST_IMAGE" make gradient 6000 4500 memory/huge.png
  # The limit that leaves the tool about 480 MiB (one 3-megapixel picture with room to
  # spare, not two), whatever the libraries it loads take
  # (they differ between systems): measured by the refusal of the picture too large.
  usable=$( (ulimit -v 700000 && export OPENBLAS_NUM_THREADS=1 && "$VANTOREL" memory/huge.png probe.png 0.9) 2>&1 |
           sed -n 's/.*but only \([0-9]*\) MiB is available.*/\1/p')
  [[ -n $usable ]] || fail "-j 6 above the memory: the probe gave no usable memory"
  limit=$((700000 + (480 - ${usable:-480}) * 1024))
  (ulimit -v "$limit" && export OPENBLAS_NUM_THREADS=1 && "$VANTOREL" -o memory_out -j 6 memory >out.txt 2>err.txt)
  STATUS=$?
  ERR=$(cat err.txt)
  expect_status 1 "-j 6 above the memory"
  checks=$((checks + 2))
  [[ $(tail -n 1 err.txt) == "vantorel: 5 written, 1 failed, 0 skipped in "* ]] ||
    fail "-j 6 above the memory: pictures that fit alone failed: $ERR"
  grep -q "failed: memory/huge.png: the picture is 6000 x 4500 pixels and needs about" err.txt ||
    fail "-j 6 above the memory: the picture too large alone is not named: $ERR"

  # A stop reaches the workers that wait for memory too: under the same limit with -j 2, one
  # picture is dehazed while the other worker waits for room; a SIGTERM ends the batch once
  # the picture in progress is written, with the rest reported as not started.
  rm -f memory/huge.png
  (ulimit -v "$limit" && export OPENBLAS_NUM_THREADS=1 && exec "$VANTOREL" -o memory_stop -j 2 memory >out.txt 2>err.txt) &
  batch=$!
  # As soon as the first result is in place: the second picture is in progress at most.
  for _ in $(seq 1 200); do
    [[ -n $(ls memory_stop 2>/dev/null | grep -v '^\.') ]] && break
    sleep 0.02
  done
  kill -TERM "$batch"
  for _ in $(seq 100); do kill -0 "$batch" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$batch" 2>/dev/null; then
    kill -KILL "$batch"
    fail "SIGTERM with a worker waiting for memory: the batch did not stop within 10 s"
  fi
  wait "$batch"
  STATUS=$?
  ERR=$(cat err.txt)
  expect_status 143 "SIGTERM with a worker waiting for memory"
  checks=$((checks + 1))
  summary=$(tail -n 1 err.txt)
  if [[ $summary =~ ^vantorel:\ stopped\ by\ SIGTERM:\ ([0-9]+)\ written,\ 0\ failed,\ 0\ skipped,\ ([0-9]+)\ not\ started ]]; then
    checks=$((checks + 1))
    [[ $((BASH_REMATCH[1] + BASH_REMATCH[2])) -eq 5 && ${BASH_REMATCH[2]} -ge 3 ]] ||
      fail "SIGTERM with a worker waiting for memory: pictures were started after the stop: $summary"
  else
    fail "SIGTERM with a worker waiting for memory: summary was '$summary'"
  fi
fi

# A full disk: after the first write that finds no space, no more pictures are started;
# the rest are reported as not started, status 1.
mkdir full_src
for i in 1 2 3 4 5 6; do "$TEST_IMAGE" make noise 400 300 "full_src/n$i.png"; done
if unshare -m true 2>/dev/null; then
  unshare -m bash -c 'mkdir -p full && mount -t tmpfs -o size=1200k tmpfs full && exec "$0" -o full -j 1 full_src' \
    "$VANTOREL" >out.txt 2>err.txt
  STATUS=$?
  ERR=$(cat err.txt)
  if grep -q "mount" err.txt; then
    echo "SKIP: full disk: a tmpfs could not be mounted here: $ERR"
  else
    expect_status 1 "full disk"
    checks=$((checks + 3))
    [[ $(grep -c "No space left on device" err.txt) -eq 1 ]] || fail "full disk: not one failure for lack of space: $ERR"
    grep -q "the disk is full: no more pictures are started" err.txt || fail "full disk: the stop is not said: $ERR"
    [[ $(tail -n 1 err.txt) =~ ^vantorel:\ [0-9]+\ written,\ 1\ failed,\ 0\ skipped,\ [1-9][0-9]*\ not\ started ]] ||
      fail "full disk: the rest are not reported as not started: $ERR"
  fi
else
  echo "SKIP: full disk: no mount namespace here"
fi

# A SIGKILL in the middle of a write (strace kills the tool at its fsync, once the bytes
# are written) leaves nothing beside the result.
mkdir killed
(strace -f -o /dev/null -e trace=fsync -e inject=fsync:signal=KILL "$VANTOREL" scene.png killed/r.png \
  >/dev/null 2>&1; true) 2>/dev/null
checks=$((checks + 1))
[[ -z $(ls -A killed) ]] || fail "SIGKILL during a write left: $(ls -A killed)"

# Where the file system has no unnamed files (made so here by strace failing the O_TMPFILE
# open, found by its position in a first run), the file is named from the start: a SIGKILL
# leaves it, and the next write into the folder removes it.
mkdir fallback
strace -o trace.txt -e trace=openat "$VANTOREL" scene.png fallback/probe.png >/dev/null 2>&1
nth=$(grep '^openat(' trace.txt | grep -n 'O_TMPFILE' | head -n 1 | cut -d: -f1)
rm -f fallback/probe.png
(strace -o trace.txt -e trace=openat,fsync -e inject=openat:error=EOPNOTSUPP:when="$nth" \
  -e inject=fsync:signal=KILL "$VANTOREL" scene.png fallback/r.png >/dev/null 2>&1; true) 2>/dev/null
checks=$((checks + 3))
grep -q 'O_TMPFILE.*EOPNOTSUPP.*INJECTED' trace.txt || fail "no unnamed files: the O_TMPFILE open was not the one failed"
leftover=$(ls -A fallback)
[[ $leftover =~ ^\.r\.png\.tmp-vantorel-[0-9]+-[A-Za-z0-9]{6}$ ]] ||
  fail "no unnamed files: a SIGKILL should leave one recognisable temporary, left '$leftover'"
run scene.png fallback/r.png
[[ $(ls -A fallback) == r.png ]] || fail "no unnamed files: the next run left $(ls -A fallback | tr '\n' ' ')"

# The temporaries of a run that died are removed by the next write into their folder;
# those of a process still running are not.
true &
dead=$!
wait "$dead"
touch "killed/.r.png.tmp-vantorel-$dead-AbCdEf" "killed/.r.png.tmp-vantorel-$$-AbCdEf" killed/.keep.tmp-other
run scene.png killed/r.png
expect_status 0 "stale temporaries"
checks=$((checks + 3))
[[ ! -e "killed/.r.png.tmp-vantorel-$dead-AbCdEf" ]] || fail "stale temporaries: a dead run's file was left"
[[ -e "killed/.r.png.tmp-vantorel-$$-AbCdEf" ]] || fail "stale temporaries: a running process's file was removed"
[[ -e killed/.keep.tmp-other ]] || fail "stale temporaries: a file the tool did not name was removed"

# Messages that send a new user the right way.
mkdir photos
cp scene.png photos/a.png
run photos/ out/
expect_status 1 "a folder as the one source"
expect_stderr_one_line_with "photos/ is a folder: to dehaze the pictures in it, use -o DIR photos/" \
  "a folder as the one source"
run -o photos photos/
expect_status 1 "the output folder as the source"
expect_stderr_one_line_with "the output folder photos is also a source and was left out of the sources" \
  "the output folder as the source"
for form in "-t 5 scene.png t.png" "--thickness 5 -o t_out scene.png"; do
  run $form
  expect_status 1 "--thickness out of range: $form"
  expect_stderr_one_line_with "vantorel: --thickness '5' is above 1; it must lie in (0, 1]" "--thickness: $form"
done
run scene.png t.png 5
expect_stderr_one_line_with "vantorel: haze_thickness '5' is above 1" "the third argument out of range"
"$VANTOREL" --help >main_help.txt
"$VANTOREL" serve --help >serve_help.txt
STATUS=$?
expect_status 0 "serve --help"
checks=$((checks + 3))
[[ $(grep -c "^Usage:$\|^Options:$" serve_help.txt) -eq 2 ]] || fail "serve --help: not laid out as the main help"
grep -q "^  vantorel serve \[OPTIONS\]$" serve_help.txt || fail "serve --help: no usage line"
! grep -q "INT:INT\|TEXT=" serve_help.txt || fail "serve --help: the parser's type words show: $(cat serve_help.txt)"

finish
