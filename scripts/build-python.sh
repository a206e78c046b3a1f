#!/usr/bin/env bash
# Installs the Python package from the source tree into build/python-venv, as the python
# tier's test does before it runs pytest: the module's own build of the library (with the
# package's flags) is then done here, with the rest of the build, and the test finds it
# up to date.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTOREL_BUILD_DIR:-$root/build}
venv=$build/python-venv
[[ -x $venv/bin/python3 ]] || /usr/bin/python3 -m venv --system-site-packages "$venv"
VANTOREL_CMAKE_BUILD_DIR=$build/python-module \
  "$venv/bin/python3" -m pip install --no-build-isolation --no-index --quiet "$root"
