#!/usr/bin/env bash
# Installs the Python package into the build folder's virtual environment (as the tests do)
# and runs bench/python_bench.py: the Python call against DehazeCPU, two threads against
# one after the other, and the Dask runner against the command line.
#   bench/python.sh [ROUNDS]   (default 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTOREL_BUILD_DIR:-$root/build}
"$root/scripts/build.sh" >/dev/null
cmake --build "$build" --target vantorel_bench >/dev/null
venv=$build/python-venv
[[ -x $venv/bin/python3 ]] || /usr/bin/python3 -m venv --system-site-packages "$venv"
VANTOREL_CMAKE_BUILD_DIR=$build/python-module \
  "$venv/bin/python3" -m pip install --no-build-isolation --no-index --quiet "$root"
cd "$build"
"$venv/bin/python3" "$root/bench/python_bench.py" "$build" "${1:-5}"
