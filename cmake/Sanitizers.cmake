# A second build of everything under AddressSanitizer and UndefinedBehaviorSanitizer.
# The first report ends the program (no recovery), so a test that triggers one fails.
# float-cast-overflow is not part of GCC's "undefined" group but is undefined behaviour
# that the pixel loops could reach (a NaN or huge float turned into an index).
option(VANTOREL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(VANTOREL_SANITIZE)
  set(VANTOREL_SANITIZER_FLAGS
    -fsanitize=address,undefined,float-cast-overflow
    -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  # Through the flag variables rather than per-target options, so that whatever is built
  # against this build (the installed-package test's example) gets them too.
  string(JOIN " " VANTOREL_SANITIZER_FLAG_STRING ${VANTOREL_SANITIZER_FLAGS})
  string(APPEND CMAKE_CXX_FLAGS " ${VANTOREL_SANITIZER_FLAG_STRING}")
  string(APPEND CMAKE_EXE_LINKER_FLAGS " ${VANTOREL_SANITIZER_FLAG_STRING}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${VANTOREL_SANITIZER_FLAG_STRING}")
endif()

# The fuzz targets (fuzz/) for libFuzzer: clang only. The project's own code is
# instrumented for coverage and checked by both sanitizers; the image library is not.
option(VANTOREL_FUZZ "Build the fuzz targets for libFuzzer (needs clang)" OFF)

if(VANTOREL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VANTOREL_FUZZ needs clang (CXX=clang++-14)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
