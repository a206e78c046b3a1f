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
  add_compile_options(${VANTOREL_SANITIZER_FLAGS})
  add_link_options(${VANTOREL_SANITIZER_FLAGS})
endif()
