#!/usr/bin/env bash
# Makes docs/looks.jpg for the README: the bundled sample photo (left) beside the tool's
# result in the classic look (middle) and in the natural look (right), each 480 pixels wide.
#   docs/make_looks.sh [OUTPUT [THICKNESS]]
# Uses vantorel and the test picture tool from the build (VANTOREL_BUILD_DIR, default
# build/), building them first when they are missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${VANTOREL_BUILD_DIR:-$root/build}
output=${1:-$root/docs/looks.jpg}
thickness=${2:-0.9}
sample=$root/samples/hazy_mountains.jpg
panel_width=480

vantorel=$build_dir/vantorel
test_image=$build_dir/tests/test_image
if [[ ! -x $vantorel || ! -x $test_image ]]; then
  "$root/scripts/build.sh"
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for look in classic natural; do
  "$vantorel" --look "$look" "$sample" "$scratch/$look.png" "$thickness" >/dev/null
done
"$test_image" side-by-side "$sample" "$scratch/classic.png" "$scratch/natural.png" "$panel_width" "$output"
echo "Before, classic and natural at thickness $thickness written to $output"
