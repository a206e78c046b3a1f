// The airlight's per-pixel work on 8-bit BGR pixels, eight pixels at a time: the values its
// sums add, written to buffers, for byte levels whose values are level x scale.
#pragma once

#include <cstdint>

namespace vantorel {

// The scale s when the 256 byte levels' values are exactly level x s in float (as the
// normalisation's conversion makes them), else 0.
float ByteLevelScale(const float* values);

// For `count` pixels: minima[i] = the value of pixel i's smallest level, and tops[c] raised
// to the largest level of channel c. Needs AVX2.
void ByteMinimaAvx2(const uint8_t* pixels, int count, float scale, float* minima, uint8_t tops[3]);

// For `count` pixels: colours[c][i] = the value of channel c of pixel i when its smallest
// level is above `bar`, else +0. Returns how many are. Needs AVX2.
int ByteBrightColoursAvx2(const uint8_t* pixels, int count, int bar, float scale, float* const colours[3]);

}  // namespace vantorel
