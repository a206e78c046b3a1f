# Debian's per-module OpenCV packages (libopencv-core-dev and friends) ship headers and
# libraries but no CMake package file, which only the full libopencv-dev brings. Find the
# three modules the project uses and give each an imported target opencv::<module>.
find_path(OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
foreach(module core imgproc imgcodecs)
  find_library(OPENCV_${module}_LIBRARY opencv_${module} REQUIRED)
  if(NOT TARGET opencv::${module})
    add_library(opencv::${module} SHARED IMPORTED)
    set_target_properties(opencv::${module} PROPERTIES
      IMPORTED_LOCATION ${OPENCV_${module}_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${OPENCV_INCLUDE_DIR})
  endif()
endforeach()
