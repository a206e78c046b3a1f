#!/usr/bin/env bash
# Installs the Python package from the source tree as a user would (a virtual environment
# over Debian's python3 and its packages, pip without build isolation, nothing downloaded)
# and runs the tests in tests/python with pytest.
#   run_pytest.sh BUILD_DIR SOURCE_DIR VANTOREL TEST_METADATA
set -euo pipefail
build=$1 source=$2
venv=$build/python-venv
[[ -x $venv/bin/python3 ]] || /usr/bin/python3 -m venv --system-site-packages "$venv"
# The module's CMake build lives in the build folder too, so a second run rebuilds nothing.
VANTOREL_CMAKE_BUILD_DIR=$build/python-module \
  "$venv/bin/python3" -m pip install --no-build-isolation --no-index --quiet "$source"

export VANTOREL_EXECUTABLE=$3 VANTOREL_TEST_METADATA=$4 VANTOREL_SOURCE_DIR=$source
# From a scratch folder, so that `import vantorel` finds the installed package and
# nothing is written beside the tests.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
"$venv/bin/python3" -m pytest -q -p no:cacheprovider "$source/tests/python"
