#include "dehazefile/in_memory_formats.h"
#include "dehazefile/extension_names.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace vantorel {
namespace {


struct Signature {
  const char* bytes;
  std::size_t offset, length;
};

bool StartsWith(const unsigned char* data, std::size_t size, const Signature& signature) {
  return size >= signature.offset + signature.length &&
         std::memcmp(data + signature.offset, signature.bytes, signature.length) == 0;
}

bool StartsWithAny(const unsigned char* data, std::size_t size, std::initializer_list<Signature> signatures) {
  return std::any_of(signatures.begin(), signatures.end(),
                     [&](const Signature& signature) { return StartsWith(data, size, signature); });
}

// The Netpbm family: "P1" to "P7" and a white space.
bool IsNetpbm(const unsigned char* data, std::size_t size) {
  return size >= 3 && data[0] == 'P' && data[1] >= '1' && data[1] <= '7' && std::isspace(data[2]);
}

}  // namespace

bool EncodesInMemory(const std::string& dotted_extension) {
  return ExtensionIsOneOf(dotted_extension, {".jpg", ".jpeg", ".jpe", ".png", ".webp", ".tif", ".tiff", ".bmp", ".dib",
                                    ".ppm", ".pgm", ".pbm", ".pnm", ".pxm", ".pam"});
}

bool HoldsFloatPixels(const std::string& dotted_extension) {
  return ExtensionIsOneOf(dotted_extension, {".exr", ".hdr", ".pic", ".pfm"});
}

std::string WhyNotDecodedInMemory(const unsigned char* bytes, std::size_t size) {
  const bool webp = StartsWith(bytes, size, {"RIFF", 0, 4}) && StartsWith(bytes, size, {"WEBP", 8, 4});
  if (webp || IsNetpbm(bytes, size) ||
      StartsWithAny(bytes, size,
                    {{"\xff\xd8\xff", 0, 3},                      // JPEG
                     {"\x89PNG\r\n\x1a\n", 0, 8},                 // PNG
                     {"II*\0", 0, 4}, {"MM\0*", 0, 4},            // TIFF
                     {"II+\0", 0, 4}, {"MM\0+", 0, 4},            // BigTIFF
                     {"BM", 0, 2}})) {                            // BMP
    return "";
  }
  const struct {
    const char* name;
    std::initializer_list<Signature> signatures;
  } file_only[] = {
      {"a Radiance HDR picture", {{"#?RADIANCE", 0, 10}, {"#?RGBE", 0, 6}}},
      {"an OpenEXR picture", {{"\x76\x2f\x31\x01", 0, 4}}},
      {"a PFM picture", {{"PF\n", 0, 3}, {"Pf\n", 0, 3}, {"PF\r", 0, 3}, {"Pf\r", 0, 3}}},
      {"a Sun raster picture", {{"\x59\xa6\x6a\x95", 0, 4}}},
      {"a JPEG 2000 picture", {{"\0\0\0\x0cjP  \r\n\x87\n", 0, 12}, {"\xff\x4f\xff\x51", 0, 4}}},
  };
  for (const auto& format : file_only) {
    if (StartsWithAny(bytes, size, format.signatures)) {
      return std::string(format.name) + " is read only from a file, not from memory: convert it to PNG, TIFF "
                                         "or JPEG first";
    }
  }
  return "not an image in a supported format, or the file is damaged";
}

}  // namespace vantorel
