# Debian's per-module OpenCV packages (libopencv-core-dev and friends) ship headers and
# libraries but no CMake package file, which only the full libopencv-dev brings.
# vantorel_find_opencv_modules(<missing_var> <module>...) gives each named module that is
# installed an imported target opencv::<module>, and lists in <missing_var> those that are
# not, so that the caller decides what is fatal. The installed package configuration uses
# this file too, so that a library user finds OpenCV the same way as the build did.
function(vantorel_find_opencv_modules missing_var)
  find_path(OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
  set(missing "")
  foreach(module IN LISTS ARGN)
    find_library(OPENCV_${module}_LIBRARY opencv_${module})
    if(NOT OPENCV_INCLUDE_DIR OR NOT OPENCV_${module}_LIBRARY)
      list(APPEND missing ${module})
    elseif(NOT TARGET opencv::${module})
      add_library(opencv::${module} SHARED IMPORTED)
      set_target_properties(opencv::${module} PROPERTIES
        IMPORTED_LOCATION ${OPENCV_${module}_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${OPENCV_INCLUDE_DIR})
    endif()
  endforeach()
  set(${missing_var} "${missing}" PARENT_SCOPE)
endfunction()
