// Hand-made PNG files for what the image library's encoder does not write: palette
// pictures, grey with alpha, and headers that claim any size. The pixel data is stored
// uncompressed (deflate "stored" blocks), which every decoder must accept.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace crafted {

inline uint32_t Crc32(const std::vector<uint8_t>& bytes, size_t begin) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = begin; i < bytes.size(); ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

inline void PutBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// A zlib stream of stored blocks holding `raw` as it is.
inline std::vector<uint8_t> StoredZlib(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> out = {0x78, 0x01};
  size_t done = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - done, 65535);
    const bool last = done + n == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<uint8_t>(n & 0xFF));
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.push_back(static_cast<uint8_t>(~n & 0xFF));
    out.push_back(static_cast<uint8_t>((~n >> 8) & 0xFF));
    out.insert(out.end(), raw.begin() + done, raw.begin() + done + n);
    done += n;
  } while (done < raw.size());
  uint32_t a = 1, b = 0;  // Adler-32
  for (const uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBigEndian32(out, (b << 16) | a);
  return out;
}

inline void AppendChunk(std::vector<uint8_t>& png, const std::string& type, const std::vector<uint8_t>& data) {
  PutBigEndian32(png, static_cast<uint32_t>(data.size()));
  const size_t typed = png.size();
  png.insert(png.end(), type.begin(), type.end());
  png.insert(png.end(), data.begin(), data.end());
  PutBigEndian32(png, Crc32(png, typed));
}

// A PNG of the given header fields. `scanlines` is the image data before compression:
// each row starts with its filter byte. `palette` holds RGB triples (colour type 3).
inline std::vector<uint8_t> Png(uint32_t width, uint32_t height, uint8_t bit_depth, uint8_t colour_type,
                                const std::vector<uint8_t>& palette, const std::vector<uint8_t>& scanlines) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutBigEndian32(header, width);
  PutBigEndian32(header, height);
  header.insert(header.end(), {bit_depth, colour_type, 0, 0, 0});
  AppendChunk(png, "IHDR", header);
  if (!palette.empty()) AppendChunk(png, "PLTE", palette);
  AppendChunk(png, "IDAT", StoredZlib(scanlines));
  AppendChunk(png, "IEND", {});
  return png;
}

// 8-bit palette picture of 16 colours in diagonal bands.
inline std::vector<uint8_t> PalettePng(int w, int h) {
  std::vector<uint8_t> palette;
  for (int i = 0; i < 16; ++i) palette.insert(palette.end(), {uint8_t(i * 16), uint8_t(255 - i * 12), uint8_t(60 + i * 8)});
  std::vector<uint8_t> rows;
  for (int y = 0; y < h; ++y) {
    rows.push_back(0);
    for (int x = 0; x < w; ++x) rows.push_back(static_cast<uint8_t>((x / 4 + y / 4) % 16));
  }
  return Png(w, h, 8, 3, palette, rows);
}

// 8-bit grey with alpha (colour type 4): a grey ramp across, alpha falling downwards.
inline std::vector<uint8_t> GreyAlphaPng(int w, int h) {
  std::vector<uint8_t> rows;
  for (int y = 0; y < h; ++y) {
    rows.push_back(0);
    for (int x = 0; x < w; ++x) {
      rows.push_back(static_cast<uint8_t>(40 + 200 * x / std::max(w - 1, 1)));
      rows.push_back(static_cast<uint8_t>(255 - 200 * y / std::max(h - 1, 1)));
    }
  }
  return Png(w, h, 8, 4, {}, rows);
}

// A colour PNG whose header claims w x h but whose data holds only the start of the
// first row.
inline std::vector<uint8_t> ClaimedSizePng(uint32_t w, uint32_t h) {
  std::vector<uint8_t> row_start(1 + 3 * static_cast<size_t>(std::min<uint32_t>(w, 16)), 128);
  row_start[0] = 0;
  return Png(w, h, 8, 2, {}, row_start);
}

}  // namespace crafted
