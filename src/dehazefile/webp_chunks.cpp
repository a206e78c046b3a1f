// Adding a colour profile to an encoded WebP file: a RIFF container of chunks (four-letter
// name, little-endian 32-bit size, data padded to an even length). The extended form
// starts with VP8X (flags and canvas size), and the ICCP chunk must come right after it.
#include "dehazefile/webp_chunks.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace vantorel {

namespace {

constexpr size_t kRiffHeader = 12;  // "RIFF", size, "WEBP"
constexpr size_t kChunkHeader = 8;  // name, size
constexpr size_t kVp8xSize = 10;
constexpr unsigned char kIccFlag = 0x20;
constexpr unsigned char kAlphaFlag = 0x10;
constexpr int kMaxCanvas = 1 << 24;  // the canvas size is stored minus one in 24 bits

struct Chunk {
  std::string name;
  size_t offset;  // of the chunk header
  size_t total;   // header, data and padding
};

uint32_t ReadLittleEndian32(const unsigned char* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void PutLittleEndian(unsigned char* p, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The chunks after the RIFF header; empty when the file is not a whole, well-formed WebP.
std::vector<Chunk> ListChunks(const std::vector<unsigned char>& webp) {
  if (webp.size() < kRiffHeader || std::memcmp(webp.data(), "RIFF", 4) != 0 ||
      std::memcmp(webp.data() + 8, "WEBP", 4) != 0 || ReadLittleEndian32(&webp[4]) != webp.size() - 8) {
    return {};
  }
  std::vector<Chunk> chunks;
  size_t at = kRiffHeader;
  while (at < webp.size()) {
    if (webp.size() - at < kChunkHeader) return {};
    const uint64_t size = ReadLittleEndian32(&webp[at + 4]);
    const uint64_t total = kChunkHeader + size + (size & 1);
    if (total > webp.size() - at) return {};
    chunks.push_back({std::string(reinterpret_cast<const char*>(&webp[at]), 4), at, static_cast<size_t>(total)});
    at += static_cast<size_t>(total);
  }
  return chunks;
}

std::vector<unsigned char> MakeChunk(const char* name, const std::vector<unsigned char>& data) {
  std::vector<unsigned char> chunk(kChunkHeader + data.size() + (data.size() & 1), 0);
  std::memcpy(chunk.data(), name, 4);
  PutLittleEndian(&chunk[4], static_cast<uint32_t>(data.size()), 4);
  std::memcpy(chunk.data() + kChunkHeader, data.data(), data.size());
  return chunk;
}

// Whether a simple file's VP8L bitstream says it uses alpha (bit 28 after the 0x2f signature).
bool LosslessWithAlpha(const std::vector<unsigned char>& webp, const Chunk& chunk) {
  if (chunk.name != "VP8L" || chunk.total < kChunkHeader + 5) return false;
  return ((ReadLittleEndian32(&webp[chunk.offset + kChunkHeader + 1]) >> 28) & 1) != 0;
}

std::vector<unsigned char> Vp8xData(int cols, int rows, bool alpha) {
  std::vector<unsigned char> data(kVp8xSize, 0);
  if (alpha) data[0] |= kAlphaFlag;
  PutLittleEndian(&data[4], static_cast<uint32_t>(cols - 1), 3);
  PutLittleEndian(&data[7], static_cast<uint32_t>(rows - 1), 3);
  return data;
}

}  // namespace

bool SetWebPIccProfile(std::vector<unsigned char>& webp, const std::vector<unsigned char>& icc, int cols,
                       int rows) {
  const std::vector<Chunk> chunks = ListChunks(webp);
  if (chunks.empty() || icc.empty() || icc.size() > UINT32_MAX - 1 || cols < 1 || rows < 1 ||
      cols > kMaxCanvas || rows > kMaxCanvas) {
    return false;
  }
  const bool extended = chunks[0].name == "VP8X";
  if (extended && chunks[0].total != kChunkHeader + kVp8xSize) return false;
  if (!extended && chunks[0].name != "VP8 " && chunks[0].name != "VP8L") return false;

  std::vector<unsigned char> out(webp.begin(), webp.begin() + kRiffHeader);
  std::vector<unsigned char> vp8x =
      extended ? std::vector<unsigned char>(webp.begin() + static_cast<std::ptrdiff_t>(chunks[0].offset),
                                            webp.begin() + static_cast<std::ptrdiff_t>(chunks[0].offset + chunks[0].total))
               : MakeChunk("VP8X", Vp8xData(cols, rows, LosslessWithAlpha(webp, chunks[0])));
  vp8x[kChunkHeader] |= kIccFlag;
  out.insert(out.end(), vp8x.begin(), vp8x.end());
  const std::vector<unsigned char> iccp = MakeChunk("ICCP", icc);
  out.insert(out.end(), iccp.begin(), iccp.end());
  for (size_t i = extended ? 1 : 0; i < chunks.size(); ++i) {
    if (chunks[i].name == "ICCP") continue;  // replaced
    const auto begin = webp.begin() + static_cast<std::ptrdiff_t>(chunks[i].offset);
    out.insert(out.end(), begin, begin + static_cast<std::ptrdiff_t>(chunks[i].total));
  }
  if (out.size() - 8 > UINT32_MAX) return false;
  PutLittleEndian(&out[4], static_cast<uint32_t>(out.size() - 8), 4);
  webp.swap(out);
  return true;
}

}  // namespace vantorel
