// The pixel size a PNG or JPEG file declares, read from its header without decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantorel {

struct DeclaredSize {
  uint64_t cols = 0;
  uint64_t rows = 0;
  bool deep = false;  // 16 bits per sample (a PNG's bit depth); JPEG is read as 8
};

// Reads the width and height that a PNG (IHDR) or JPEG (first start-of-frame marker)
// declares. Returns false for other formats, for damaged headers and for a JPEG whose
// height is only given later in the stream: the decoder then has the last word.
//   bytes, size  the start of the file; reading never goes past size.
bool ReadDeclaredSize(const unsigned char* bytes, size_t size, DeclaredSize& declared);

// The same for a file, read through the file system (only the header bytes are read).
bool ReadDeclaredSizeOfFile(const std::string& path, DeclaredSize& declared);

}  // namespace vantorel
