#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest; then runs the
# same suite again under AddressSanitizer and UndefinedBehaviorSanitizer, and a short
# fuzzing round (VANTOREL_FUZZ_SECONDS per target, 20 by default).
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
(cd "${VANTOREL_BUILD_DIR:-$root/build}" && ctest --output-on-failure --parallel "$(nproc 2>/dev/null || echo 2)")
"$root/scripts/test-sanitized.sh"
"$root/fuzz/run.sh" "${VANTOREL_FUZZ_SECONDS:-20}"
