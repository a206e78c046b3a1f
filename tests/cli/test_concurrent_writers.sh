# Several runs writing the same result path at once: the path always ends up holding one
# run's complete result, and no temporary file is left behind.
source "$(dirname "$0")/lib.sh"

# Four different sources of different sizes, and each one's result written alone.
sources=(gradient noise dim red)
sizes=("300 200" "240 180" "320 160" "200 300")
for i in 0 1 2 3; do
  "$TEST_IMAGE" make "${sources[$i]}" ${sizes[$i]} "src_$i.png" || exit 1
  for ext in png jpg; do
    run "src_$i.png" "alone_$i.$ext" 0.9
    expect_status 0 "reference run $i ($ext)"
  done
done

# matches_one_reference RESULT EXT: the result equals one of the results written alone.
matches_one_reference() {
  local i
  for i in 0 1 2 3; do
    "$TEST_IMAGE" same "$1" "alone_$i.$2" && return 0
  done
  return 1
}

for ext in png jpg; do
  for round in 1 2 3 4 5; do
    mkdir "round_${ext}_$round"
    target="round_${ext}_$round/result.$ext"
    pids=()
    for i in 0 1 2 3; do
      timeout 120 "$VANTOREL" "src_$i.png" "$target" 0.9 >/dev/null 2>"err_$i.txt" &
      pids+=($!)
    done
    for i in 0 1 2 3; do
      wait "${pids[$i]}"
      status=$?
      checks=$((checks + 1))
      [[ $status -eq 0 ]] || fail "round $round ($ext), run $i: status $status: $(cat "err_$i.txt")"
    done
    checks=$((checks + 1))
    matches_one_reference "$target" "$ext" ||
      fail "round $round ($ext): $target is not one run's complete result"
    checks=$((checks + 1))
    others=$(find "round_${ext}_$round" -mindepth 1 ! -name "result.$ext")
    [[ -z $others ]] || fail "round $round ($ext): left behind: $others"
  done
done

finish
