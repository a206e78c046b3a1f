#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tests by tiers (ctest labels, see
# tests/CMakeLists.txt).
#   ./test.sh         the everyday tiers: fast, integration, browser, python, package
#   ./test.sh --all   every tier: also the fuzz targets' replays and the large pictures,
#                     then the whole suite again under AddressSanitizer and
#                     UndefinedBehaviorSanitizer, and a fuzzing round
#                     (VANTOREL_FUZZ_SECONDS per target, 20 by default)
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
all=false
case "${1-}" in
  --all) all=true ;;
  "") ;;
  *) echo "usage: ./test.sh [--all]" >&2; exit 2 ;;
esac
# Twice the cores: most tests spend their time starting processes and waiting on them.
jobs=$(( 2 * $(nproc 2>/dev/null || echo 2) ))
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
"$root/scripts/build-python.sh"
cd "${VANTOREL_BUILD_DIR:-$root/build}"
if $all; then
  ctest --output-on-failure --parallel "$jobs"
  "$root/scripts/test-sanitized.sh"
  "$root/fuzz/run.sh" "${VANTOREL_FUZZ_SECONDS:-20}"
else
  ctest --output-on-failure --parallel "$jobs" --label-exclude '^(fuzz|large)$'
fi
