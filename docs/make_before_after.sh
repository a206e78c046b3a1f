#!/usr/bin/env bash
# Makes the README's pictures from the bundled sample photo, each panel 480 pixels wide:
#   docs/make_before_after.sh [OUTPUT]
#       docs/before_after.jpg: the sample (left) beside the tool's result (right), at 0.9;
#   docs/make_before_after.sh --looks [OUTPUT [THICKNESS]]
#       docs/looks.jpg: the sample beside its classic-look and natural-look results
#       (thickness 0.9 unless given).
# Uses vantorel and the test picture tool from the build (VANTOREL_BUILD_DIR, default
# build/), building them first when they are missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${VANTOREL_BUILD_DIR:-$root/build}
looks=false
if [[ ${1:-} == --looks ]]; then
  looks=true
  shift
fi
sample=$root/samples/hazy_mountains.jpg
thickness=${2:-0.9}
panel_width=480

vantorel=$build_dir/vantorel
test_image=$build_dir/tests/test_image
if [[ ! -x $vantorel || ! -x $test_image ]]; then
  "$root/scripts/build.sh"
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if $looks; then
  output=${1:-$root/docs/looks.jpg}
  for look in classic natural; do
    "$vantorel" --look "$look" "$sample" "$scratch/$look.png" "$thickness" >/dev/null
  done
  "$test_image" side-by-side "$sample" "$scratch/classic.png" "$scratch/natural.png" "$panel_width" "$output"
  echo "Before, classic and natural at thickness $thickness written to $output"
else
  output=${1:-$root/docs/before_after.jpg}
  "$vantorel" "$sample" "$scratch/after.png" "$thickness" >/dev/null
  "$test_image" side-by-side "$sample" "$scratch/after.png" "$panel_width" "$output"
  echo "Before and after written to $output"
fi
