// A picture array taken apart for the engine, which dehazes BGR colour of 8 or 16 bits,
// and put together again in the array's own form: float32 goes through 16 bits, RGB is
// turned to BGR and back, grey and alpha go the file layer's way (dehazefile/picture_parts.h).
#pragma once

#include <opencv2/core.hpp>

#include "bindings/picture_arguments.h"

namespace vantorel::python {

struct ArrayPicture {
  cv::Mat colour;  // CV_8UC3 or CV_16UC3 BGR, for the engine
  cv::Mat alpha;   // the array's alpha channel, in its own type; empty for none
  bool grey = false;
  bool rgb = false;
  int depth = CV_8U;  // the array's: CV_8U, CV_16U or CV_32F
};

// `packed` is a packed copy of the array (CopyPacked); `rgb` whether its colour is in
// R, G, B order. Float values become 16-bit levels, v * 65535 rounded (saturated to [0, 1]).
ArrayPicture TakeApart(const cv::Mat& packed, const PictureSize& size, bool rgb);

// The dehazed colour (parts.colour after the engine) in the array's form: dtype, channel
// order and channels; a float result is the 16-bit levels over 65535, its alpha the array's own.
cv::Mat PutTogether(const ArrayPicture& parts);

}  // namespace vantorel::python
