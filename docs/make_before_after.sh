#!/usr/bin/env bash
# Makes docs/before_after.jpg for the README: the bundled sample photo (left) beside the
# tool's result (right), each 480 pixels wide.
#   docs/make_before_after.sh [OUTPUT]
# Uses vantorel and the test picture tool from the build (VANTOREL_BUILD_DIR, default
# build/), building them first when they are missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${VANTOREL_BUILD_DIR:-$root/build}
output=${1:-$root/docs/before_after.jpg}
sample=$root/samples/hazy_mountains.jpg
thickness=0.9
panel_width=480

vantorel=$build_dir/vantorel
test_image=$build_dir/tests/test_image
if [[ ! -x $vantorel || ! -x $test_image ]]; then
  "$root/scripts/build.sh"
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$vantorel" "$sample" "$scratch/after.png" "$thickness" >/dev/null
"$test_image" side-by-side "$sample" "$scratch/after.png" "$panel_width" "$output"
echo "Before and after written to $output"
