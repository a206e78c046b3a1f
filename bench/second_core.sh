#!/usr/bin/env bash
# Whether this machine's second core is a core of its own, and how often it is not: pairs
# of BM_IndependentArithmetic on one thread and on two (the same arithmetic on each, from
# registers, nothing shared), back to back for SECONDS (default 60). On a machine with two
# cores of its own both take the same time. Prints how many pairs took more than 1.3 times
# as long on two threads, the worst pair, and the load. Where that share is not 0, a
# benchmark's two-thread rounds have a slow tail that no change of ours causes.
#   bench/second_core.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench=${VANTOREL_BUILD_DIR:-$root/build}/bench/vantorel_bench
seconds=${1:-60}
[[ -x $bench ]] || { echo "bench/second_core.sh: build vantorel_bench first" >&2; exit 1; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
end=$((SECONDS + seconds))
pairs=0 slow=0 worst=0
while ((SECONDS < end)); do
  read -r one two < <("$bench" --benchmark_filter='^BM_IndependentArithmetic/' --benchmark_min_time=0.05 \
    --benchmark_format=csv 2>/dev/null | awk -F, '/^"BM_IndependentArithmetic\/1\// {a = $4}
      /^"BM_IndependentArithmetic\/2\// {b = $4} END {print a, b}')
  ratio=$(awk -v a="$one" -v b="$two" 'BEGIN {printf "%.2f", b / a}')
  pairs=$((pairs + 1))
  if awk -v r="$ratio" 'BEGIN {exit !(r > 1.3)}'; then slow=$((slow + 1)); fi
  if awk -v r="$ratio" -v w="$worst" 'BEGIN {exit !(r > w)}'; then worst=$ratio; fi
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$slow of $pairs pairs took more than 1.3 times as long on two threads as on one; the worst $worst times"
