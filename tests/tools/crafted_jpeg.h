// A hand-made CMYK JPEG, which the image library's encoder cannot write: baseline, four
// components without subsampling, an Adobe marker saying "no colour transform", and
// only DC coefficients, so that every 8 x 8 block is flat and the Huffman coding needs
// no more than the standard DC table and a one-code AC table holding end-of-block.
#pragma once

#include <cstdint>
#include <vector>

namespace crafted {

class JpegBits {
 public:
  explicit JpegBits(std::vector<uint8_t>& out) : out_(out) {}
  void Put(uint32_t bits, int count) {
    for (int i = count - 1; i >= 0; --i) {
      byte_ = static_cast<uint8_t>((byte_ << 1) | ((bits >> i) & 1u));
      if (++filled_ == 8) Emit();
    }
  }
  void Flush() {
    while (filled_ != 0) Put(1, 1);  // pad with one bits
  }

 private:
  void Emit() {
    out_.push_back(byte_);
    if (byte_ == 0xFF) out_.push_back(0x00);  // byte stuffing
    byte_ = 0;
    filled_ = 0;
  }
  std::vector<uint8_t>& out_;
  uint8_t byte_ = 0;
  int filled_ = 0;
};

inline void PutSegment(std::vector<uint8_t>& out, uint8_t marker, const std::vector<uint8_t>& body) {
  const size_t length = body.size() + 2;
  out.insert(out.end(), {0xFF, marker, uint8_t(length >> 8), uint8_t(length & 0xFF)});
  out.insert(out.end(), body.begin(), body.end());
}

// The standard luminance DC table: code lengths 1..16, then the categories 0..11.
constexpr uint8_t kDcCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};

// Codes and lengths of the DC categories, built canonically from kDcCounts.
inline void DcCodes(uint16_t codes[12], int lengths[12]) {
  uint16_t code = 0;
  int category = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < kDcCounts[length - 1]; ++i) {
      codes[category] = code++;
      lengths[category++] = length;
    }
    code = static_cast<uint16_t>(code << 1);
  }
}

// Sample level (0..255) of component c in block (bx, by).
inline int CmykLevel(int c, int bx, int by) { return (40 + 37 * c + 23 * bx + 31 * by) % 256; }

inline std::vector<uint8_t> CmykJpeg(int w, int h) {
  std::vector<uint8_t> out = {0xFF, 0xD8};
  PutSegment(out, 0xEE, {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 0});  // transform 0
  std::vector<uint8_t> quant = {0x00};
  quant.resize(65, 1);  // table 0, every step 1
  PutSegment(out, 0xDB, quant);
  PutSegment(out, 0xC0, {8, uint8_t(h >> 8), uint8_t(h & 0xFF), uint8_t(w >> 8), uint8_t(w & 0xFF), 4,
                         1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0, 4, 0x11, 0});
  std::vector<uint8_t> dc = {0x00};
  dc.insert(dc.end(), kDcCounts, kDcCounts + 16);
  for (uint8_t v = 0; v < 12; ++v) dc.push_back(v);
  PutSegment(out, 0xC4, dc);
  std::vector<uint8_t> ac = {0x10, 1};  // AC table 0: one code of length 1 ...
  ac.resize(17, 0);
  ac.push_back(0x00);  // ... for end-of-block
  PutSegment(out, 0xC4, ac);
  PutSegment(out, 0xDA, {4, 1, 0x00, 2, 0x00, 3, 0x00, 4, 0x00, 0, 63, 0});

  uint16_t codes[12];
  int lengths[12];
  DcCodes(codes, lengths);
  JpegBits bits(out);
  int previous[4] = {0, 0, 0, 0};
  for (int by = 0; by < (h + 7) / 8; ++by) {
    for (int bx = 0; bx < (w + 7) / 8; ++bx) {
      for (int c = 0; c < 4; ++c) {
        // A flat block of level L has the DC coefficient 8 (L - 128) at quantiser step 1.
        const int dc_value = 8 * (CmykLevel(c, bx, by) - 128);
        const int diff = dc_value - previous[c];
        previous[c] = dc_value;
        int category = 0;
        for (int magnitude = diff < 0 ? -diff : diff; magnitude != 0; magnitude >>= 1) ++category;
        bits.Put(codes[category], lengths[category]);
        if (category > 0) {
          const int extra = diff < 0 ? diff - 1 : diff;  // negatives as one's complement
          bits.Put(static_cast<uint32_t>(extra) & ((1u << category) - 1u), category);
        }
        bits.Put(0, 1);  // end of block
      }
    }
  }
  bits.Flush();
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

}  // namespace crafted
