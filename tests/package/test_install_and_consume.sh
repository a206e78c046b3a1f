# The installed package works for a program outside the project: `cmake --install` into a
# scratch prefix, then the example in examples/ is built against it twice, through
# find_package(Vantorel) and through pkg-config, and dehazes a picture exactly as the tool does.
#   bash test_install_and_consume.sh BUILD_DIR SOURCE_DIR TEST_IMAGE CXX LIBDIR \
#        OPENCV_INCLUDE_DIR OPENCV_IMGCODECS_LIBRARY [CXX_FLAGS [LINKER_FLAGS]]
set -uo pipefail

BUILD_DIR=$1
SOURCE_DIR=$2
TEST_IMAGE=$3
CXX=$4
LIBDIR=$5
OPENCV_INCLUDE_DIR=$6
OPENCV_IMGCODECS_LIBRARY=$7
CXX_FLAGS=${8-}
LINKER_FLAGS=${9-}
SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT
cd "$SCRATCH" || exit 1

failures=0
checks=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# step WHAT COMMAND...: runs a command, showing its output only when it fails.
step() {
  local what=$1
  shift
  checks=$((checks + 1))
  "$@" >step.log 2>&1 && return 0
  fail "$what"
  cat step.log >&2
  return 1
}
finish() {
  echo "$((checks - failures)) passed, $failures failed"
  [[ $failures -eq 0 ]]
}

prefix=$SCRATCH/prefix
step "cmake --install" cmake --install "$BUILD_DIR" --prefix "$prefix" || { finish; exit 1; }

# Where Debian expects each file, and nothing from inside the project.
for file in bin/vantorel include/vantorel/dehaze.h "$LIBDIR/libvantorel.a" \
            "$LIBDIR/cmake/Vantorel/VantorelConfig.cmake" "$LIBDIR/cmake/Vantorel/VantorelConfigVersion.cmake" \
            "$LIBDIR/cmake/Vantorel/VantorelTargets.cmake" "$LIBDIR/cmake/Vantorel/OpenCVModules.cmake" \
            "$LIBDIR/pkgconfig/vantorel.pc" share/man/man1/vantorel.1; do
  checks=$((checks + 1))
  [[ -f "$prefix/$file" ]] || fail "not installed: $file"
done
checks=$((checks + 1))
headers=$(cd "$prefix/include" && find . -type f | sort | tr '\n' ' ')
[[ "$headers" == "./vantorel/dehaze.h ./vantorel/video_dehazer.h " ]] || fail "installed headers: $headers"
checks=$((checks + 1))
man -l "$prefix/share/man/man1/vantorel.1" 2>/dev/null | grep -q "vantorel - remove haze" ||
  fail "the man page does not render"

version=$(sed -n 's/^project(Vantorel VERSION \([0-9.]*\).*/\1/p' "$SOURCE_DIR/CMakeLists.txt")
checks=$((checks + 1))
[[ $("$prefix/bin/vantorel" --version) == "vantorel $version" ]] || fail "installed vantorel --version"

# The pkg-config file names the prefix installed to, not the configured one.
export PKG_CONFIG_PATH=$prefix/$LIBDIR/pkgconfig
checks=$((checks + 3))
grep -qx "prefix=$prefix" "$prefix/$LIBDIR/pkgconfig/vantorel.pc" || fail "vantorel.pc: prefix is not $prefix"
[[ $(pkg-config --modversion vantorel) == "$version" ]] || fail "vantorel.pc: version"
[[ $(pkg-config --cflags vantorel | xargs) == "-I$prefix/include" ]] || fail "vantorel.pc: cflags $(pkg-config --cflags vantorel)"

# A consumer through CMake, finding the package in the prefix only.
step "configure examples/ with find_package(Vantorel)" \
  cmake -S "$SOURCE_DIR/examples" -B example-build -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON -DCMAKE_CXX_COMPILER="$CXX" \
        -DCMAKE_CXX_FLAGS="$CXX_FLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LINKER_FLAGS"
checks=$((checks + 1))
grep -qx "Vantorel_DIR:PATH=$prefix/$LIBDIR/cmake/Vantorel" example-build/CMakeCache.txt ||
  fail "Vantorel was not found in the prefix: $(grep Vantorel_DIR example-build/CMakeCache.txt)"
step "build examples/ with CMake" cmake --build example-build

# A consumer through pkg-config; OpenCV's file codecs are the example's own need.
# shellcheck disable=SC2046,SC2086
step "build the example with pkg-config" \
  "$CXX" -std=c++17 $CXX_FLAGS "$SOURCE_DIR/examples/dehaze_file.cpp" $(pkg-config --cflags vantorel) \
         -I"$OPENCV_INCLUDE_DIR" -o dehaze_file_pc $(pkg-config --libs vantorel) \
         "$OPENCV_IMGCODECS_LIBRARY" $LINKER_FLAGS

# Both dehaze a generated picture exactly as the installed tool does.
"$TEST_IMAGE" make gradient 64 48 hazy.png || exit 1
step "run the CMake-built example" example-build/dehaze_file hazy.png by_cmake.png 0.9
step "run the pkg-config-built example" ./dehaze_file_pc hazy.png by_pkg_config.png 0.9
step "run the installed tool" "$prefix/bin/vantorel" hazy.png by_tool.png 0.9
checks=$((checks + 3))
"$TEST_IMAGE" same by_cmake.png by_tool.png || fail "the CMake-built example and the tool differ"
"$TEST_IMAGE" same by_pkg_config.png by_tool.png || fail "the pkg-config-built example and the tool differ"
! "$TEST_IMAGE" same hazy.png by_tool.png || fail "the picture was not changed"

# The library's refusal reaches the example.
checks=$((checks + 1))
./dehaze_file_pc hazy.png refused.png 1.5 2>/dev/null
[[ $? -eq 1 && ! -e refused.png ]] || fail "thickness 1.5: the example should refuse and write nothing"

finish
