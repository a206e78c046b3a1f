// Taking the EXIF block out of an encoded file, so that the rest of its metadata (XMP,
// IPTC, the colour profile) can still be read when the EXIF is too damaged to parse.
#pragma once

#include <vector>

namespace vantorel {

// `file` without its EXIF: a JPEG's APP1 "Exif" segments, a PNG's eXIf chunk and exiv2's
// "Raw profile type exif" text chunks, a WebP's EXIF chunk (and its flag). Returns false,
// leaving `stripped` empty, when the file is none of these or holds no EXIF to remove.
bool RemoveExif(const std::vector<unsigned char>& file, std::vector<unsigned char>& stripped);

}  // namespace vantorel
