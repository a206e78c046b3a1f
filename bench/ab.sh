#!/usr/bin/env bash
# A/B of two builds of the vantorel program on one picture; the two results must be the
# same bytes. Build A from one commit and B from another (e.g. two worktrees), then:
#   bench/ab.sh time A/vantorel B/vantorel [PICTURE] [ROUNDS]
#       ROUNDS (default 9) interleaved runs A, B, A, B, ...: the pipeline's own time as the
#       program reports it; median and range per build, and the load average before and
#       after (timings on a loaded machine are not worth much). VANTOREL_THREADS is passed on.
#   bench/ab.sh count A/vantorel B/vantorel [PICTURE]
#       Instructions of the pipeline alone (valgrind's callgrind, one thread): deterministic,
#       so usable while the machine is busy; the functions costing most in each.
#       AB_FUNCTION='vantorel::EstimateAirlightCPU*' counts one function (with what it calls)
#       instead; AB_BRANCHES=1 adds simulated mispredicted conditional branches (Bcm).
# PICTURE defaults to the shared samples' dandelion photo scaled to 1920x1080.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTOREL_BUILD_DIR:-$root/build}
mode=${1:?usage: bench/ab.sh time|count A B [PICTURE] [ROUNDS]}
a=$(realpath "${2:?binary A}")
b=$(realpath "${3:?binary B}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
picture=${4:-}
if [[ -z $picture ]]; then
  photo=$root/../shared/samples/dandelions_5312x2988.jpg
  [[ -f $photo ]] || { echo "bench/ab.sh: no PICTURE given and $photo not found" >&2; exit 1; }
  "$build/tests/test_image" scale "$photo" 1920 1080 "$work/in.png"
  picture=$work/in.png
fi
thickness=0.9

same_bytes() {
  if cmp -s "$work/a.png" "$work/b.png"; then echo "results: same bytes"; else echo "results: DIFFER" >&2; exit 2; fi
}

case $mode in
  count)
    for side in a b; do
      binary=$a; [[ $side == b ]] && binary=$b
      branches=(); [[ ${AB_BRANCHES:-0} == 1 ]] && branches=(--branch-sim=yes)
      VANTOREL_THREADS=1 valgrind --tool=callgrind "${branches[@]}" --callgrind-out-file="$work/$side.out" \
        "--toggle-collect=${AB_FUNCTION:-*vantorel::*RunPipeline*}" "$binary" "$picture" "$work/$side.png" "$thickness" \
        >/dev/null 2>"$work/$side.log"
      total=$(grep -E 'Collected :' "$work/$side.log" | sed 's/.*Collected : *//')
      printf '%s: %s (events: Ir%s) in %s\n' "$side" "$total" "${branches:+ Bc Bcm Bi Bim}" "${AB_FUNCTION:-*vantorel::*RunPipeline*}"
      callgrind_annotate "$work/$side.out" 2>/dev/null | grep -E '^ *[0-9,]+ ' | head -12 | sed 's/^/   /' || true
    done
    same_bytes
    ;;
  time)
    rounds=${5:-9}
    echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
    for _ in $(seq "$rounds"); do
      for side in a b; do
        binary=$a; [[ $side == b ]] && binary=$b
        "$binary" "$picture" "$work/$side.png" "$thickness" | awk '/Time cost is/ {print $4 * 1000}' >>"$work/$side.ms"
      done
    done
    echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
    for side in a b; do
      sort -n "$work/$side.ms" | awk -v s="$side" '{v[NR] = $1} END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%s: median %.0f ms, range %.0f-%.0f ms over %d runs\n", s, m, v[1], v[NR], NR}'
    done
    same_bytes
    ;;
  *) echo "bench/ab.sh: mode must be time or count" >&2; exit 1 ;;
esac
