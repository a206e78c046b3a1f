#!/usr/bin/env bash
# Two threads against one at 1920x1080, in one process each time (so the steady state,
# without the first call's page faults): BM_DehazeCPU/1080/1920 with VANTOREL_THREADS=1
# and =2, 2 s a timing, interleaved round by round. Prints each setting's median and range,
# the ratio of the medians, the median of the rounds' own ratios, and the load.
#   bench/thread_ratio.sh [ROUNDS] [OTHER_BENCH]
# ROUNDS defaults to 16. With OTHER_BENCH (another build's vantorel_bench) each round
# times it too, right after this build, for an A/B of the two.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench=${VANTOREL_BUILD_DIR:-$root/build}/bench/vantorel_bench
rounds=${1:-16}
other=${2:-}
[[ -x $bench ]] || { echo "bench/thread_ratio.sh: build vantorel_bench first" >&2; exit 1; }
[[ -z $other || -x $other ]] || { echo "bench/thread_ratio.sh: $other is not a program" >&2; exit 1; }
time_one() {  # BENCH THREADS: milliseconds
  VANTOREL_THREADS=$2 "$1" --benchmark_filter='^BM_DehazeCPU/1080/1920/' --benchmark_min_time=2 \
    --benchmark_format=csv 2>/dev/null | awk -F, '$1 == "\"BM_DehazeCPU/1080/1920/real_time\"" {print $4}'
}
builds=(this)
[[ -n $other ]] && builds+=(other)
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
results=$(mktemp)
trap 'rm -f "$results"' EXIT
for round in $(seq "$rounds"); do
  for build in "${builds[@]}"; do
    program=$bench
    [[ $build == other ]] && program=$other
    for threads in 1 2; do echo "$build $round $threads $(time_one "$program" "$threads")" >>"$results"; done
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
for build in "${builds[@]}"; do
  awk -v build="$build" '
    function median(a, n,   i, j, t) {
      for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
      return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    $1 == build && $3 == 1 { one[++n1] = $4; first[$2] = $4 }
    $1 == build && $3 == 2 { two[++n2] = $4; if ($2 in first) ratio[++nr] = first[$2] / $4 }
    END {
      m1 = median(one, n1); m2 = median(two, n2)
      lo1 = hi1 = one[1]; lo2 = hi2 = two[1]
      for (i = 1; i <= n1; ++i) { if (one[i] < lo1) lo1 = one[i]; if (one[i] > hi1) hi1 = one[i] }
      for (i = 1; i <= n2; ++i) { if (two[i] < lo2) lo2 = two[i]; if (two[i] > hi2) hi2 = two[i] }
      printf "%s build: 1 thread %.1f ms (%.1f-%.1f), 2 threads %.1f ms (%.1f-%.1f), ratio of medians %.3f, median of the rounds'"'"' ratios %.3f\n",
             build, m1, lo1, hi1, m2, lo2, hi2, m1 / m2, median(ratio, nr)
    }' "$results"
done
