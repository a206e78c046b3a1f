// Reading a source, from a file or from bytes: the memory check, the decode, the metadata.
#include "dehazefile/dehaze_file.h"
#include "dehazefile/source_reader.h"

namespace vantorel {

bool ReadSourceFile(const std::string& path, SourcePicture& source, std::string& error, bool will_dehaze,
                    bool* unreadable) {
  if (unreadable != nullptr) *unreadable = false;
  if (!SourceFitsInMemory(path, will_dehaze, error)) return false;
  source.pixels = ReadSourceImage(path, error);
  if (source.pixels.empty()) {
    if (unreadable != nullptr) *unreadable = true;
    return false;
  }
  // Read before the pipeline changes the pixels, which tell whether they were turned upright.
  source.metadata = SourceMetadata::Read(path, source.pixels);
  return true;
}

bool ReadSourceBytes(const std::vector<unsigned char>& bytes, SourcePicture& source, std::string& error,
                     const std::string& name) {
  if (!SourceBytesFitInMemory(bytes.data(), bytes.size(), true, error)) return false;
  source.pixels = DecodeSourceImage(bytes, error);
  if (source.pixels.empty()) return false;
  source.metadata = SourceMetadata::ReadBytes(bytes, name, source.pixels);
  return true;
}

}  // namespace vantorel
