#!/usr/bin/env bash
# Installs what is missing, builds, and dehazes the bundled sample photo.
# With arguments, runs vantorel with them instead: ./run.sh in.jpg out.png 0.8
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
vantorel=${VANTOREL_BUILD_DIR:-$root/build}/vantorel

if [[ $# -gt 0 ]]; then
  exec "$vantorel" "$@"
fi

mkdir -p "$root/output"
result=$root/output/hazy_mountains_dehazed.jpg
"$vantorel" "$root/samples/hazy_mountains.jpg" "$result" 0.9
echo "Dehazed sample written to $result"
