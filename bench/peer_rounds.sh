#!/usr/bin/env bash
# DehazeCPU against the dark-channel peer (bench/peer_dehazer.cpp), interleaved round by
# round in one run so that both meet the same load: at 1 MP, 1920x1080 and 12 MP, on the
# benchmark's generated hazy scene, with VANTOREL_THREADS=1 and =2 for ours (the peer uses
# one core). Medians and ranges of the rounds, our median over the peer's, and the load.
#   bench/peer_rounds.sh [ROUNDS]   (default 7)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench=${VANTOREL_BUILD_DIR:-$root/build}/bench/vantorel_bench
rounds=${1:-7}
[[ -x $bench ]] || { echo "bench/peer_rounds.sh: build vantorel_bench first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One timing in milliseconds: the mean of a few iterations of one benchmark.
time_one() {  # NAME ARGS THREADS
  VANTOREL_THREADS=$3 "$bench" "--benchmark_filter=^$1/$2/" --benchmark_min_time=0.3 \
    --benchmark_format=csv 2>/dev/null | awk -F, -v n="\"$1/$2/real_time\"" '$1 == n {print $4}'
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
sizes=("1000/1000" "1080/1920" "3000/4000")
for _ in $(seq "$rounds"); do
  for size in "${sizes[@]}"; do
    key=${size//\//x}
    time_one BM_PeerDehaze "$size" 1 >>"$work/peer_$key"
    time_one BM_DehazeCPU "$size" 1 >>"$work/ours1_$key"
    time_one BM_DehazeCPU "$size" 2 >>"$work/ours2_$key"
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

stats() { sort -n "$1" | awk '{v[NR] = $1} END {
  m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
  printf "%.1f %.1f %.1f", m, v[1], v[NR]}'; }
printf '%-10s %-22s %-22s %-22s %9s %9s %9s\n' rows/cols "peer ms (range)" "ours 1 thread" "ours 2 threads" "1t/peer" "2t/peer" "2t speedup"
for size in "${sizes[@]}"; do
  key=${size//\//x}
  read -r pm plo phi <<<"$(stats "$work/peer_$key")"
  read -r am alo ahi <<<"$(stats "$work/ours1_$key")"
  read -r bm blo bhi <<<"$(stats "$work/ours2_$key")"
  printf '%-10s %6.1f (%6.1f-%6.1f)  %6.1f (%6.1f-%6.1f)  %6.1f (%6.1f-%6.1f)  %9.2f %9.2f %9.2f\n' "$size" \
    "$pm" "$plo" "$phi" "$am" "$alo" "$ahi" "$bm" "$blo" "$bhi" \
    "$(awk -v a="$am" -v p="$pm" 'BEGIN {print a / p}')" "$(awk -v a="$bm" -v p="$pm" 'BEGIN {print a / p}')" \
    "$(awk -v a="$am" -v b="$bm" 'BEGIN {print a / b}')"
done
