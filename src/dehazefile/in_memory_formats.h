// The picture formats the image library encodes and decodes in memory. For the others
// (Radiance HDR, OpenEXR, PFM, Sun raster, JPEG 2000) it goes through a file of its own
// in the temporary folder, readable by every local user and left behind when the process
// is killed or the codec fails; every front end refuses them instead.
#pragma once

#include <cstddef>
#include <string>

namespace vantorel {

// True for ".jpg", ".png", ".webp", ".tif", ".bmp", ".ppm", ... (dotted, any case).
bool EncodesInMemory(const std::string& dotted_extension);

// True for the formats of floating-point pixels (".exr", ".hdr", ".pic", ".pfm"), which
// never hold an 8-bit picture as it is.
bool HoldsFloatPixels(const std::string& dotted_extension);

// "" when the bytes begin as a format decoded in memory; otherwise why they are not read:
// the name of a format read only through a file, or that no format is recognised.
std::string WhyNotDecodedInMemory(const unsigned char* bytes, std::size_t size);

}  // namespace vantorel
