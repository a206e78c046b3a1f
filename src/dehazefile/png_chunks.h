// The chunks of an encoded PNG file: listing them and making new ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantorel {

struct PngChunk {
  size_t offset;    // where the chunk starts (its length field) in the file
  uint32_t length;  // bytes of data
  std::string type; // four letters, e.g. "iCCP"
};

// The chunks of `png` in file order; empty when it is not a whole, well-formed PNG (bad
// signature, a chunk running past the end, a wrong CRC, or no IEND at the end).
std::vector<PngChunk> ListPngChunks(const std::vector<unsigned char>& png);

// A chunk ready to be inserted: length, type, data and CRC.
std::vector<unsigned char> MakePngChunk(const std::string& type, const std::vector<unsigned char>& data);

// exiv2 writes the iCCP chunk of a PNG that had none with an empty profile name, which PNG
// forbids: libpng then drops the profile with a warning. Names such a profile "ICC
// profile". Returns false, leaving `png` as it was, when it is not a well-formed PNG.
bool NameUnnamedIccProfile(std::vector<unsigned char>& png);

}  // namespace vantorel
