// Checking what Python hands to the calls, with the errors Python users expect:
// TypeError for the wrong kind of object, ValueError for the wrong value.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "vantorel/dehaze.h"

namespace vantorel::python {

// A picture as the library takes it: rows x cols pixels of 3 bytes (blue, green, red).
struct PictureSize {
  int cols = 0;
  int rows = 0;
};

// The size of `image`, a numpy uint8 array of shape (height, width, 3) with any strides.
// Throws TypeError for anything but a uint8 numpy array, ValueError for another shape or
// an empty array.
PictureSize CheckPicture(const pybind11::handle& image);

// Copies `image` (checked by CheckPicture) into `destination`, packed row after row,
// whatever its strides. Needs no Python object, so it may run without the GIL.
void CopyPacked(const pybind11::buffer_info& image, unsigned char* destination);

// The thickness as the command line takes it: a Python number (not a bool) converted to
// float, 0 and anything up to 0.01 becoming 0.01 (below 0.1 there is nothing to do).
// Throws TypeError for anything else and ValueError unless finite and in [0, 1].
float CheckThickness(const pybind11::handle& thickness);

// The look by its name, as the command line's --look reads it. Throws TypeError for
// anything but a str and ValueError for a name other than "classic" or "natural".
Look CheckLook(const pybind11::handle& look);

}  // namespace vantorel::python
