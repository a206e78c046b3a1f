// How a result is encoded. The ranges, defaults and names of these fields are in
// output_option_table.h.
#pragma once

namespace vantorel {

struct OutputOptions {
  int jpeg_quality = 95;        // 1..100
  int webp_quality = 0;         // 1..100 for lossy WebP; 0 = lossless (the default)
  int png_compression = -1;     // 0..9; -1 = the image library's default
  bool strip_metadata = false;  // no EXIF, XMP or IPTC (so no GPS); the ICC profile is kept
  int depth = 0;                // 8 or 16 bits per channel; 0 = the source's where the format holds it, else 8
};

}  // namespace vantorel
