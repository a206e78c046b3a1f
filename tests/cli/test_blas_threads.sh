# The image library loads OpenBLAS, which starts threads as it loads that spin for about a
# tenth of a second, competing with the dehaze for the cores. The tool never calls BLAS and
# stops them as it starts: an idle server has as many threads as one started with
# OpenBLAS asked for a single thread (which then starts none).
source "$(dirname "$0")/lib.sh"

# threads_of_idle_server [VAR=VALUE...]: the thread count of `vantorel serve` once it listens.
threads_of_idle_server() {
  env -u OPENBLAS_NUM_THREADS "$@" "$VANTOREL" serve --port 0 >serve.txt 2>&1 &
  local pid=$! count=""
  for _ in $(seq 100); do
    grep -q "^Serving on " serve.txt && break
    sleep 0.05
  done
  grep -q "^Serving on " serve.txt && count=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status")
  kill "$pid"
  wait "$pid" 2>/dev/null
  echo "$count"
}

plain=$(threads_of_idle_server)
one_blas_thread=$(threads_of_idle_server OPENBLAS_NUM_THREADS=1)
checks=$((checks + 1))
[[ -n $plain && $plain == "$one_blas_thread" ]] ||
  fail "idle server: $plain threads, against $one_blas_thread with OpenBLAS asked for one thread"

finish
