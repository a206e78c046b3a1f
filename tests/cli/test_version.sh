# `vantorel --version`: the version the project declares, and only for that exact argument.
source "$(dirname "$0")/lib.sh"

version=$(sed -n 's/^project(Vantorel VERSION \([0-9.]*\).*/\1/p' "$SOURCE_DIR/CMakeLists.txt")
checks=$((checks + 1))
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "no version found in CMakeLists.txt: '$version'"

run --version
expect_status 0 "--version"
expect_stdout "vantorel $version" "--version"
checks=$((checks + 1))
[[ -z "$ERR" ]] || fail "--version: stderr should be empty, was '$ERR'"

# Anything else with fewer than two arguments is a usage error, as before.
for arg in -v --Version --version= -version version; do
  run "$arg"
  expect_status 255 "'$arg'"
  checks=$((checks + 1))
  [[ "$OUT" == "Usage: "* ]] || fail "'$arg': usage text expected, got '$OUT'"
done

# With a second argument "--version" is a file name like any other.
"$TEST_IMAGE" make gradient 8 8 scene.png
run --version scene.png
expect_status 1 "--version as a source"
expect_stderr_one_line_with "--version" "--version as a source"

finish
