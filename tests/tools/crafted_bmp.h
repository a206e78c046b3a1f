// A hand-made BMP header claiming any size: a format whose size the tool does not read
// ahead, so that the image library's own limits are what refuses it.
#pragma once

#include <cstdint>
#include <vector>

namespace crafted {

inline void PutLittleEndian32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// A 24-bit BMP whose header claims w x h, followed by a few bytes of pixel data only.
inline std::vector<uint8_t> ClaimedSizeBmp(uint32_t w, uint32_t h) {
  std::vector<uint8_t> bmp = {'B', 'M'};
  PutLittleEndian32(bmp, 54 + 6);  // file size
  PutLittleEndian32(bmp, 0);       // reserved
  PutLittleEndian32(bmp, 54);      // offset of the pixels
  PutLittleEndian32(bmp, 40);      // BITMAPINFOHEADER
  PutLittleEndian32(bmp, w);
  PutLittleEndian32(bmp, h);
  bmp.insert(bmp.end(), {1, 0, 24, 0});  // one plane, 24 bits per pixel
  for (int i = 0; i < 6; ++i) PutLittleEndian32(bmp, 0);  // no compression, sizes, palette
  bmp.insert(bmp.end(), {1, 2, 3, 4, 5, 6});
  return bmp;
}

}  // namespace crafted
