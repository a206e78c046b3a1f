// The dehazing pipeline's single entry point.
#pragma once

namespace vantorel {

// Dehazes an interleaved 8-bit BGR picture in place.
//   data           rows x cols pixels, 3 bytes each (blue, green, red), rows packed
//                  without gaps; overwritten with the result only when the call succeeds.
//   cols           width in pixels, > 0.
//   rows           height in pixels, > 0.
//   haze_thickness how hazy the scene is, in (0, 1]; larger removes more haze.
// Returns false, touching nothing, when an argument is out of range. Library errors
// (for instance out of memory) propagate as exceptions with the buffer unchanged.
bool DehazeCPU(unsigned char* data, int cols, int rows, float haze_thickness);

}  // namespace vantorel
