// The smallest and largest sample of one channel of an interleaved image, for the grid's
// edge range. Minimum and maximum are exact whatever the order of comparisons, so rows are
// scanned in parallel and several samples at a time. Samples must not be NaN.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantorel {

// Channel k of an image of `channels` floats per pixel, rows `step` bytes apart.
void FloatChannelRange(const unsigned char* data, size_t step, int channels, int k, int32_t width,
                       int32_t height, float& lo, float& hi);

// The same for bytes.
void ByteChannelRange(const unsigned char* data, size_t step, int channels, int k, int32_t width,
                      int32_t height, uint8_t& lo, uint8_t& hi);

// The same for 16-bit samples.
void WordChannelRange(const unsigned char* data, size_t step, int channels, int k, int32_t width,
                      int32_t height, uint16_t& lo, uint16_t& hi);

}  // namespace vantorel
