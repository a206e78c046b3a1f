#!/usr/bin/env bash
# Installs, through apt-get, whatever the build and the tests need and is missing.
# Quick and harmless when everything is already there.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev
  libexiv2-dev
  libcli11-dev
  libgtest-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev time
  # The package test renders the manual page with man -l.
  man-db groff-base
  # vantorel serve, and its tests in a headless browser
  libcpp-httplib-dev
  chromium chromium-driver python3-selenium
  # The Python package (python/, pyproject.toml), its Dask runner and its tests.
  python3 python3-dev pybind11-dev python3-pybind11 python3-numpy
  python3-venv python3-pip python3-setuptools python3-wheel
  python3-dask python3-distributed python3-pytest python3-pil
  # Clips: FFmpeg's libraries to read and write them; the ffmpeg program makes and
  # inspects the clips of the tests and the benchmark.
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev ffmpeg
  # The BLAS a fresh install of the packages above ends up with (the image library loads
  # it): OpenBLAS starts its threads before main(), which the stop on a signal must survive.
  libopenblas0-pthread
  # The command-line tests: strace kills the tool in the middle of a write, unshare and
  # mount give it a small file system that fills up.
  strace util-linux mount
  # docs/make_clip_figures.sh plots the README's brightness figure.
  python3-matplotlib
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: missing packages (${missing[*]}) and neither root nor sudo to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
