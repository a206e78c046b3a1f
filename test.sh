#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
cd "${VANTOREL_BUILD_DIR:-$root/build}"
ctest --output-on-failure --parallel "$(nproc 2>/dev/null || echo 2)"
