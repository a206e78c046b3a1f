// Checking what Python hands to the calls, with the errors Python users expect:
// TypeError for the wrong kind of object, ValueError for the wrong value.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <opencv2/core.hpp>

#include "vantorel/dehaze.h"

namespace vantorel::python {

// A picture array as the calls take it: rows x cols pixels of 1 (grey), 3 (colour) or 4
// (colour and alpha) channels of uint8, uint16 or float32 (values in [0, 1]).
struct PictureSize {
  int cols = 0;
  int rows = 0;
  int channels = 3;
  int depth = 0;  // CV_8U, CV_16U or CV_32F
};

// The form of `image`, a numpy array of dtype uint8, uint16 or float32 and shape
// (height, width), (height, width, 3) or (height, width, 4), with any strides. Throws
// TypeError for anything but such a numpy array (float64 included: it is not converted
// silently), ValueError for another shape or an empty array.
PictureSize CheckPicture(const pybind11::handle& image);

// Copies `image` (checked by CheckPicture as `size`) into a new packed cv::Mat of its
// depth and channels, whatever its strides. Needs no Python object, so it may run
// without the GIL.
cv::Mat CopyPacked(const pybind11::buffer_info& image, const PictureSize& size);

// True for channel_order "rgb", false for "bgr". Throws TypeError for anything but a str
// and ValueError for another name.
bool CheckChannelOrder(const pybind11::handle& channel_order);

// The thickness as the command line takes it: a Python number (not a bool) converted to
// float, 0 and anything up to 0.01 becoming 0.01 (below 0.1 there is nothing to do).
// Throws TypeError for anything else and ValueError unless finite and in [0, 1].
float CheckThickness(const pybind11::handle& thickness);

// The look by its name, as the command line's --look reads it. Throws TypeError for
// anything but a str and ValueError for a name other than "classic" or "natural".
Look CheckLook(const pybind11::handle& look);

}  // namespace vantorel::python
