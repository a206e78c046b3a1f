// Vantorel: removes haze and fog from one colour photograph.
// Link with Vantorel::vantorel (CMake: find_package(Vantorel)) or `pkg-config --libs vantorel`.
#pragma once

namespace vantorel {

// Dehazes an interleaved 8-bit BGR picture in place; returns false, touching nothing, when
// an argument is out of range. Library errors (out of memory) are thrown as exceptions and
// leave the picture unchanged.
bool DehazeCPU(unsigned char* data,   // rows x cols pixels of 3 bytes (blue, green, red), rows packed without gaps
               int cols,              // width in pixels, > 0
               int rows,              // height in pixels, > 0
               float haze_thickness); // how hazy the scene is, in (0, 1]; larger removes more haze

}  // namespace vantorel
