// The chunks of an encoded PNG file: listing them and making new ones.
#include "dehazefile/png_chunks.h"

#include <array>
#include <cstring>

namespace vantorel {

namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr size_t kChunkOverhead = 12;  // length, type and CRC

uint32_t ReadBigEndian32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void AppendBigEndian32(std::vector<unsigned char>& bytes, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<unsigned char>(value >> shift));
}

// The CRC-32 that PNG uses (polynomial 0xEDB88320), over a chunk's type and data.
uint32_t Crc32(const unsigned char* bytes, size_t size) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace

std::vector<PngChunk> ListPngChunks(const std::vector<unsigned char>& png) {
  std::vector<PngChunk> chunks;
  if (png.size() < sizeof kSignature || std::memcmp(png.data(), kSignature, sizeof kSignature) != 0) {
    return {};
  }
  size_t at = sizeof kSignature;
  while (png.size() - at >= kChunkOverhead) {
    const uint32_t length = ReadBigEndian32(&png[at]);
    if (length > png.size() - at - kChunkOverhead) return {};
    const unsigned char* type = &png[at + 4];
    if (Crc32(type, 4 + size_t{length}) != ReadBigEndian32(type + 4 + length)) return {};
    chunks.push_back({at, length, std::string(reinterpret_cast<const char*>(type), 4)});
    at += kChunkOverhead + length;
    if (chunks.back().type == "IEND") return at == png.size() ? chunks : std::vector<PngChunk>{};
  }
  return {};
}

std::vector<unsigned char> MakePngChunk(const std::string& type, const std::vector<unsigned char>& data) {
  std::vector<unsigned char> chunk;
  chunk.reserve(kChunkOverhead + data.size());
  AppendBigEndian32(chunk, static_cast<uint32_t>(data.size()));
  chunk.insert(chunk.end(), type.begin(), type.end());
  chunk.insert(chunk.end(), data.begin(), data.end());
  AppendBigEndian32(chunk, Crc32(chunk.data() + 4, 4 + data.size()));
  return chunk;
}

bool NameUnnamedIccProfile(std::vector<unsigned char>& png) {
  const std::vector<PngChunk> chunks = ListPngChunks(png);
  if (chunks.empty()) return false;
  for (const PngChunk& chunk : chunks) {
    // An unnamed profile's data starts with the name's terminating zero.
    if (chunk.type != "iCCP" || chunk.length == 0 || png[chunk.offset + 8] != 0) continue;
    static const char kName[] = "ICC profile";
    std::vector<unsigned char> data(kName, kName + sizeof kName - 1);
    const auto begin = png.begin() + static_cast<std::ptrdiff_t>(chunk.offset + 8);
    data.insert(data.end(), begin, begin + chunk.length);
    const std::vector<unsigned char> named = MakePngChunk("iCCP", data);
    const auto chunk_begin = png.begin() + static_cast<std::ptrdiff_t>(chunk.offset);
    png.erase(chunk_begin, chunk_begin + static_cast<std::ptrdiff_t>(kChunkOverhead + chunk.length));
    png.insert(png.begin() + static_cast<std::ptrdiff_t>(chunk.offset), named.begin(), named.end());
    return true;  // PNG allows one iCCP chunk
  }
  return true;
}

}  // namespace vantorel
