# What a hostile or unlucky run meets: names with control characters, more jobs than the
# memory allows, a full disk, a worker blocked when a stop comes, a SIGKILL during a
# write, and the messages that send a new user the right way.
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

# More jobs than the memory allows: under an address-space limit where one 3-megapixel
# picture fits but not six at once, every picture that fits alone is written; one that
# cannot fit even alone fails with its reason.
mkdir memory
for i in 1 2 3 4 5; do "$TEST_IMAGE" make gradient 2000 1500 "memory/p$i.png"; done
"$TEST_IMAGE" make gradient 6000 4500 memory/huge.png
(ulimit -v 700000 && "$VANTOREL" -o memory_out -j 6 memory >out.txt 2>err.txt)
STATUS=$?
ERR=$(cat err.txt)
expect_status 1 "-j 6 above the memory"
checks=$((checks + 2))
[[ $(tail -n 1 err.txt) == "vantorel: 5 written, 1 failed, 0 skipped in "* ]] ||
  fail "-j 6 above the memory: pictures that fit alone failed: $ERR"
grep -q "failed: memory/huge.png: the picture is 6000 x 4500 pixels and needs about" err.txt ||
  fail "-j 6 above the memory: the picture too large alone is not named: $ERR"

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

# A stop reaches a worker wherever it is blocked: a FIFO with no writer among the sources
# holds its reader, yet a SIGTERM ends the batch with its summary and status 143. The
# pictures of known size go first (b.png); c.tif, of unknown size like the FIFO, after it.
mkdir blocked
mkfifo blocked/fifo.png
cp scene.png blocked/b.png
"$TEST_IMAGE" make gradient 64 48 blocked/c.tif
"$VANTOREL" -o blocked_out -j 1 blocked/fifo.png blocked/b.png blocked/c.tif >out.txt 2>err.txt &
batch=$!
sleep 1
if kill -0 "$batch" 2>/dev/null; then
  kill -TERM "$batch"
  for _ in $(seq 100); do kill -0 "$batch" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$batch" 2>/dev/null; then
    kill -KILL "$batch"
    fail "SIGTERM with a worker blocked on a FIFO: the batch did not stop within 10 s"
  fi
  wait "$batch"
  STATUS=$?
  ERR=$(cat err.txt)
  expect_status 143 "SIGTERM with a worker blocked on a FIFO"
  checks=$((checks + 2))
  [[ $(tail -n 1 err.txt) == "vantorel: stopped by SIGTERM: 1 written, 1 failed, 0 skipped, 1 not started in "* ]] ||
    fail "SIGTERM with a worker blocked: summary was '$(tail -n 1 err.txt)'"
  [[ ! -e blocked_out/c.tif ]] || fail "SIGTERM with a worker blocked: a picture was started after the stop"
else
  # The reader refuses a FIFO without opening it: nothing blocks, nothing to stop.
  wait "$batch"
  echo "note: the FIFO did not block its reader; the stop of a blocked worker was not exercised"
fi

# A SIGKILL in the middle of a write (strace kills the tool at its fsync, once the bytes
# are written) leaves nothing beside the result.
mkdir killed
(strace -f -o /dev/null -e trace=fsync -e inject=fsync:signal=KILL "$VANTOREL" scene.png killed/r.png \
  >/dev/null 2>&1; true) 2>/dev/null
checks=$((checks + 1))
[[ -z $(ls -A killed) ]] || fail "SIGKILL during a write left: $(ls -A killed)"

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
