// Taking the EXIF block out of an encoded JPEG, PNG or WebP file.
#include "dehazefile/exif_removal.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "dehazefile/png_chunks.h"

namespace vantorel {

namespace {

constexpr unsigned char kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};

bool RemoveJpegExif(const std::vector<unsigned char>& file, std::vector<unsigned char>& stripped) {
  if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return false;
  std::vector<unsigned char> out(file.begin(), file.begin() + 2);
  size_t at = 2;
  bool removed = false;
  // Segments up to the first scan; everything from there on is copied as it is.
  while (at + 4 <= file.size() && file[at] == 0xFF) {
    const unsigned char marker = file[at + 1];
    if (marker == 0xDA || marker == 0xD9) break;
    const size_t length = (size_t{file[at + 2]} << 8) | file[at + 3];
    if (length < 2 || at + 2 + length > file.size()) return false;
    const bool exif = marker == 0xE1 && length >= 2 + sizeof kExifHeader &&
                      std::memcmp(&file[at + 4], kExifHeader, sizeof kExifHeader) == 0;
    if (exif) removed = true;
    else out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
                    file.begin() + static_cast<std::ptrdiff_t>(at + 2 + length));
    at += 2 + length;
  }
  if (!removed) return false;
  out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(at), file.end());
  stripped.swap(out);
  return true;
}

bool IsPngExifChunk(const std::vector<unsigned char>& png, const PngChunk& chunk) {
  if (chunk.type == "eXIf") return true;
  if (chunk.type != "tEXt" && chunk.type != "zTXt" && chunk.type != "iTXt") return false;
  static const char kKeyword[] = "Raw profile type exif";
  const size_t keyword = sizeof kKeyword;  // with its terminating zero
  return chunk.length >= keyword && std::memcmp(&png[chunk.offset + 8], kKeyword, keyword) == 0;
}

bool RemovePngExif(const std::vector<unsigned char>& png, std::vector<unsigned char>& stripped) {
  const std::vector<PngChunk> chunks = ListPngChunks(png);
  if (chunks.empty()) return false;
  std::vector<unsigned char> out(png.begin(), png.begin() + 8);
  bool removed = false;
  for (const PngChunk& chunk : chunks) {
    if (IsPngExifChunk(png, chunk)) {
      removed = true;
      continue;
    }
    const auto begin = png.begin() + static_cast<std::ptrdiff_t>(chunk.offset);
    out.insert(out.end(), begin, begin + 12 + static_cast<std::ptrdiff_t>(chunk.length));
  }
  if (!removed) return false;
  stripped.swap(out);
  return true;
}

uint32_t LittleEndian32(const unsigned char* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

bool RemoveWebPExif(const std::vector<unsigned char>& webp, std::vector<unsigned char>& stripped) {
  if (webp.size() < 12 || std::memcmp(webp.data(), "RIFF", 4) != 0 || std::memcmp(&webp[8], "WEBP", 4) != 0) {
    return false;
  }
  std::vector<unsigned char> out(webp.begin(), webp.begin() + 12);
  bool removed = false;
  size_t vp8x_flags = 0;  // where the VP8X flags byte lands in `out`, when there is one
  for (size_t at = 12; at < webp.size();) {
    if (webp.size() - at < 8) return false;
    const uint64_t size = LittleEndian32(&webp[at + 4]);
    const uint64_t total = 8 + size + (size & 1);
    if (total > webp.size() - at) return false;
    if (std::memcmp(&webp[at], "EXIF", 4) == 0) {
      removed = true;
    } else {
      if (std::memcmp(&webp[at], "VP8X", 4) == 0 && size >= 1) vp8x_flags = out.size() + 8;
      out.insert(out.end(), webp.begin() + static_cast<std::ptrdiff_t>(at),
                 webp.begin() + static_cast<std::ptrdiff_t>(at + total));
    }
    at += static_cast<size_t>(total);
  }
  if (!removed) return false;
  if (vp8x_flags != 0) out[vp8x_flags] &= static_cast<unsigned char>(~0x08);  // the EXIF flag
  const uint32_t riff_size = static_cast<uint32_t>(out.size() - 8);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<unsigned char>(riff_size >> (8 * i));
  stripped.swap(out);
  return true;
}

}  // namespace

bool RemoveExif(const std::vector<unsigned char>& file, std::vector<unsigned char>& stripped) {
  stripped.clear();
  return RemoveJpegExif(file, stripped) || RemovePngExif(file, stripped) || RemoveWebPExif(file, stripped);
}

}  // namespace vantorel
