// Reading a source, from a file or from bytes: the memory check, the decode, the metadata.
#include "dehazefile/dehaze_file.h"
#include "dehazefile/source_reader.h"

namespace vantorel {

bool ReadSourceFile(const std::string& path, SourcePicture& source, FileError& error, bool will_dehaze) {
  error = FileError();
  if (!SourceFitsInMemory(path, will_dehaze, error.message)) return false;
  source.pixels = ReadSourceImage(path, error.message);
  if (source.pixels.empty()) {
    error.kind = FileError::Kind::kUnreadable;
    return false;
  }
  // Read before the pipeline changes the pixels, which tell whether they were turned upright.
  source.metadata = SourceMetadata::Read(path, source.pixels);
  return true;
}

bool ReadSourceBytes(const std::vector<unsigned char>& bytes, SourcePicture& source, FileError& error,
                     const std::string& name) {
  error = FileError();
  if (!SourceBytesFitInMemory(bytes.data(), bytes.size(), true, error.message)) return false;
  source.pixels = DecodeSourceImage(bytes, error.message);
  if (source.pixels.empty()) {
    error.kind = FileError::Kind::kUnreadable;
    return false;
  }
  source.metadata = SourceMetadata::ReadBytes(bytes, name, source.pixels);
  return true;
}

}  // namespace vantorel
