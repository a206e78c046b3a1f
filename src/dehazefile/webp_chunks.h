// Adding a colour profile to an encoded WebP file.
#pragma once

#include <vector>

namespace vantorel {

// Puts `icc` into `webp` as its ICCP chunk, turning a simple file (one VP8 or VP8L chunk)
// into the extended form, whose VP8X header says a profile follows and gives the canvas
// size, cols x rows. A profile already there is replaced. Returns false, leaving `webp` as
// it was, when it is not a well-formed WebP file or the canvas size is out of range.
bool SetWebPIccProfile(std::vector<unsigned char>& webp, const std::vector<unsigned char>& icc, int cols,
                       int rows);

}  // namespace vantorel
