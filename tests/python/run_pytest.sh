#!/usr/bin/env bash
# Installs the Python package from the source tree as a user would (a virtual environment
# over Debian's python3 and its packages, pip without build isolation, nothing downloaded)
# and runs the tests in tests/python with pytest.
#   run_pytest.sh BUILD_DIR SOURCE_DIR VANTOREL TEST_METADATA
set -euo pipefail
build=$1 source=$2
venv=$build/python-venv
# The same install as scripts/build-python.sh, which ./test.sh runs with the build: the
# module's CMake build lives in the build folder, so here it rebuilds nothing.
VANTOREL_BUILD_DIR=$build "$source/scripts/build-python.sh"

export VANTOREL_EXECUTABLE=$3 VANTOREL_TEST_METADATA=$4 VANTOREL_SOURCE_DIR=$source
# From a scratch folder, so that `import vantorel` finds the installed package and
# nothing is written beside the tests.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
"$venv/bin/python3" -m pytest -q -p no:cacheprovider "$source/tests/python"
