# Many pictures in one run (-o DIR SOURCE...): results, failures, summary, resuming,
# collisions, progress, and a stop by a signal.
source "$(dirname "$0")/lib.sh"

# expect_same_as_single RESULT SOURCE THICKNESS WHAT: the batch's result has the bytes the
# single form writes for the same source, thickness and format.
expect_same_as_single() {
  checks=$((checks + 1))
  local single="single_${1##*/}"
  "$VANTOREL" "$2" "$single" "$3" >/dev/null 2>&1
  cmp -s "$1" "$single" || fail "$4: $1 differs from the single form's result"
  rm -f "$single"
}

expect_no_temp_files() {
  checks=$((checks + 1))
  local leftovers
  leftovers=$(find . -name '.*.tmp-*' | head -n 3)
  [[ -z $leftovers ]] || fail "$1: temporary files left behind: $leftovers"
}

mkdir -p photos/sub photos/.hidden
"$TEST_IMAGE" make gradient 64 48 photos/a.png
"$TEST_IMAGE" make gradient 50 40 photos/b.jpg
"$TEST_IMAGE" make gradient 30 20 photos/sub/c.png
"$TEST_IMAGE" make gradient 30 20 photos/.hidden/h.png
echo "not a picture" >photos/broken.jpg
echo "notes" >photos/notes.txt

# A folder with one broken picture: the others are written, byte for byte as the single
# form writes them, one plain line each (standard error is not a terminal), the failure
# named in one line, the summary, status 1. Sub-folders only with -r.
run -o out -t 0.8 photos
expect_status 1 "batch with a broken picture"
for name in a.png b.jpg; do
  expect_same_as_single "out/$name" "photos/$name" 0.8 "batch with a broken picture"
  checks=$((checks + 1))
  grep -q "photos/$name -> out/$name, [0-9]* x [0-9]*, [0-9.]* s, ok$" err.txt || fail "batch: no progress line for $name: $ERR"
done
checks=$((checks + 4))
[[ $(grep -c "failed: photos/broken.jpg: " err.txt) -eq 1 ]] || fail "batch: the broken picture is not named once: $ERR"
[[ $(tail -n 1 err.txt) == "vantorel: 2 written, 1 failed, 0 skipped in "* ]] || fail "batch: summary was '$(tail -n 1 err.txt)'"
[[ ! -e out/broken.jpg && ! -e out/notes.txt && ! -e out/sub && ! -e out/.hidden ]] || fail "batch: unexpected results: $(ls -A out)"
[[ $ERR == *"1 sub-folder was left out; -r descends into them"* ]] || fail "batch: no note about the sub-folder"
expect_no_temp_files "batch with a broken picture"

# -r keeps the layout; --suffix and --format name the results; the jobs change no byte.
for jobs in 1 3; do
  run -o "deep_$jobs" -r -j "$jobs" --suffix _clear --format png photos/a.png photos/b.jpg photos/sub
  expect_status 0 "-r -j $jobs"
  checks=$((checks + 1))
  [[ $(cd "deep_$jobs" && find . -type f | sort | tr '\n' ' ') == "./a_clear.png ./b_clear.png ./c_clear.png " ]] ||
    fail "-r -j $jobs: results were $(cd "deep_$jobs" && find . -type f | tr '\n' ' ')"
done
run -o deep_r -r photos
checks=$((checks + 2))
[[ -f deep_r/sub/c.png ]] || fail "-r: the sub-folder's layout is not kept"
cmp -s deep_1/c_clear.png deep_r/sub/c.png || fail "-r: results differ between runs"
for name in a b c; do
  checks=$((checks + 1))
  cmp -s "deep_1/${name}_clear.png" "deep_3/${name}_clear.png" || fail "-j 1 and -j 3 differ for $name"
done
expect_same_as_single deep_1/b_clear.png photos/b.jpg 1 "--format png from a JPEG"

# --skip-existing resumes: present results are left as they are, missing ones written.
rm out/b.jpg
echo "kept" >out/a.png
run -o out --skip-existing -t 0.8 photos/a.png photos/b.jpg
expect_status 0 "--skip-existing"
checks=$((checks + 2))
[[ $(cat out/a.png) == kept ]] || fail "--skip-existing: an existing result was replaced"
[[ $(tail -n 1 err.txt) == "vantorel: 1 written, 0 failed, 1 skipped in "* ]] || fail "--skip-existing: summary '$(tail -n 1 err.txt)'"
expect_same_as_single out/b.jpg photos/b.jpg 0.8 "--skip-existing"

# --quiet: the failure alone.
run -o quiet -q photos
expect_status 1 "--quiet"
expect_stderr_one_line_with "photos/broken.jpg" "--quiet"

# Collisions and results that would replace a source: refused before any work.
mkdir -p twins/one twins/two
cp photos/a.png twins/one/x.png && cp photos/a.png twins/two/x.png && cp photos/b.jpg twins/one/x.jpg
run -o same_name twins/one twins/two
expect_status 1 "two sources, one result"
expect_stderr_one_line_with "twins/one/x.png and twins/two/x.png would both be written to same_name/x.png" \
  "two sources, one result"
run -o same_format --format png twins/one
expect_status 1 "--format makes two results one"
expect_stderr_one_line_with "would both be written to same_format/x.png" "--format makes two results one"
checks=$((checks + 1))
[[ ! -e same_name && ! -e same_format ]] || fail "collisions: work was done before the refusal"
run -o twins/one twins/one/x.png
expect_status 1 "result replacing its source"
expect_stderr_one_line_with "is one of the sources" "result replacing its source"
checks=$((checks + 1))
cmp -s twins/one/x.png photos/a.png || fail "result replacing its source: the source changed"

# Options that belong to one form only.
run -o maps_dir --transmission-map m.png photos/a.png
expect_status 1 "--transmission-map in a batch"
run photos/a.png single.png --maps
expect_status 1 "--maps in the single form"
run -o nothing photos/notes.txt.missing_dir/
expect_status 1 "a source that does not exist"

# --maps: each map beside its result, the source's size, one 8-bit channel; the result
# is the same as without the map.
run -o mapped --maps -t 0.8 photos/a.png
expect_status 0 "--maps"
expect_image mapped/a.transmission.png "64 48 1 8" "--maps"
expect_same_as_single mapped/a.png photos/a.png 0.8 "--maps"
checks=$((checks + 1))
read -r low high < <("$TEST_IMAGE" range mapped/a.transmission.png)
[[ $low -lt $high && $high -le 255 ]] || fail "--maps: the map is flat or out of range: $low .. $high"

# Progress on a terminal: one line redrawn in place, with the rate and the time left.
script -qec "'$VANTOREL' -o tty_out photos/a.png photos/b.jpg" /dev/null >tty.txt 2>&1
checks=$((checks + 3))
grep -q $'\r\033\\[K\\[2/2\\] ' tty.txt || fail "terminal: no redrawn line: $(od -c tty.txt | head -n 5)"
grep -q 'MP/s  about 0:0[0-9] left' tty.txt || fail "terminal: no rate or time left"
! grep -q ' -> ' tty.txt || fail "terminal: plain per-picture lines on a terminal"

# A stop by SIGINT or SIGTERM: the pictures in progress are finished, nothing partial or
# temporary is left, the summary says so, status 130 or 143.
mkdir -p many
for i in $(seq 1 12); do "$TEST_IMAGE" make gradient 700 500 "many/p$i.png"; done
# Job control, so that the background run does not start with SIGINT ignored (which it
# would then rightly keep ignoring).
set -m
for signal in INT TERM; do
  "$VANTOREL" -o "stopped_$signal" -j 1 many >/dev/null 2>"stop_$signal.txt" &
  pid=$!
  for _ in $(seq 1 200); do
    [[ -n $(ls "stopped_$signal" 2>/dev/null | grep -v '^\.') ]] && break
    sleep 0.05
  done
  kill -s "$signal" $pid
  wait $pid
  STATUS=$?
  expected=$([[ $signal == INT ]] && echo 130 || echo 143)
  expect_status "$expected" "SIG$signal"
  checks=$((checks + 2))
  written=$(ls "stopped_$signal" | wc -l)
  [[ $written -ge 1 && $written -lt 12 ]] || fail "SIG$signal: $written results (expected some, not all)"
  grep -q "stopped by SIG$signal: $written written, 0 failed, 0 skipped, $((12 - written)) not started" "stop_$signal.txt" ||
    fail "SIG$signal: summary: $(cat "stop_$signal.txt")"
  for result in "stopped_$signal"/*; do
    expect_image "$result" "700 500 3 8" "SIG$signal: $result whole"
  done
  expect_no_temp_files "SIG$signal"
done
# A second signal stops at once: the picture in progress is dropped, and no temporary
# file is left. The first signal is sent once the process has worked for 0.3 s of CPU
# time (the picture is being decoded or dehazed: 10 megapixels take over a second), the
# second once the first was answered.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
mkdir big
"$TEST_IMAGE" make gradient 4000 2500 big/large.png
"$VANTOREL" -o stopped_twice big >/dev/null 2>stop_twice.txt &
pid=$!
ticks_per_second=$(getconf CLK_TCK)
for _ in $(seq 1 400); do
  (($(cpu_ticks $pid) * 10 >= ticks_per_second * 3)) && break
  sleep 0.02
done
kill -s INT $pid
for _ in $(seq 1 200); do
  grep -q "a second signal stops at once" stop_twice.txt && break
  sleep 0.02
done
kill -s INT $pid
wait $pid
STATUS=$?
expect_status 130 "two SIGINTs"
checks=$((checks + 2))
grep -q "stopped at once by SIGINT" stop_twice.txt || fail "two SIGINTs: $(cat stop_twice.txt)"
[[ -z $(ls -A stopped_twice 2>/dev/null) ]] || fail "two SIGINTs: files left: $(ls -A stopped_twice)"
set +m

finish
