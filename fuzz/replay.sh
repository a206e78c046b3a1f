#!/usr/bin/env bash
# Replays the generated seeds and the stored regression inputs of one fuzz target
# through its replay build (run by ctest).
#   fuzz/replay.sh REPLAY_BINARY TEST_IMAGE TARGET_NAME
set -euo pipefail
binary=$1
test_image=$2
name=$3
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$here/make_seeds.sh" "$test_image" "$scratch"
inputs=("$scratch/$name")
if [[ -d "$here/regressions/$name" ]]; then inputs+=("$here/regressions/$name"); fi
"$binary" "${inputs[@]}"
