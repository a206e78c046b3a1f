// Reading a source, from a file or from bytes: the memory check, the decode, the metadata.
#include "dehazefile/dehaze_file.h"
#include "dehazefile/source_reader.h"

#include <sys/stat.h>

namespace vantorel {

namespace {

// The decoded picture as the engine and the encoder take it.
void TakeDecoded(DecodedSource decoded, SourcePicture& source) {
  source.grey = decoded.picture.channels() == 1;
  source.pixels = ColourForEngine(decoded.picture);
  source.alpha = std::move(decoded.alpha);
}

// Only regular files (or links to them) are opened: a FIFO or a device could block the
// reader for good, and a link to nothing deserves to be called that.
bool IsReadableKind(const std::string& path, FileError& error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      error = FileError(FileError::Kind::kUnreadable, "a symbolic link to a file that does not exist");
      return false;
    }
    return true;  // the reader says why
  }
  if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) return true;
  const char* kind = S_ISFIFO(info.st_mode) ? "a named pipe (FIFO)"
                     : S_ISSOCK(info.st_mode) ? "a socket"
                                              : "a device";
  error = FileError(FileError::Kind::kOther, std::string("not a regular file but ") + kind + ": it is not read");
  return false;
}

}  // namespace

int SourceDepthBits(const SourcePicture& source) { return source.pixels.depth() == CV_16U ? 16 : 8; }

// Alpha keeps one more plane of samples.
int SourceExtraBytesPerPixel(const SourcePicture& source) {
  const int sample = source.pixels.depth() == CV_16U ? 2 : 1;
  return (sample == 2 ? static_cast<int>(kDeepPipelineExtraBytesPerPixel) : 0) + (source.alpha.empty() ? 0 : sample);
}

bool ReadSourceFile(const std::string& path, SourcePicture& source, FileError& error, bool will_dehaze) {
  error = FileError();
  if (!IsReadableKind(path, error)) return false;
  if (!SourceFitsInMemory(path, will_dehaze, error.message)) return false;
  DecodedSource decoded = ReadSourceImage(path, error.message);
  if (decoded.picture.empty()) {
    error.kind = FileError::Kind::kUnreadable;
    return false;
  }
  // Read before the pipeline changes the pixels, which tell whether they were turned upright.
  source.metadata = SourceMetadata::Read(path, decoded.picture);
  TakeDecoded(std::move(decoded), source);
  return true;
}

bool ReadSourceBytes(const std::vector<unsigned char>& bytes, SourcePicture& source, FileError& error,
                     const std::string& name) {
  error = FileError();
  if (!SourceBytesFitInMemory(bytes.data(), bytes.size(), true, error.message)) return false;
  DecodedSource decoded = DecodeSourceImage(bytes, error.message);
  if (decoded.picture.empty()) {
    error.kind = FileError::Kind::kUnreadable;
    return false;
  }
  source.metadata = SourceMetadata::ReadBytes(bytes, name, decoded.picture);
  TakeDecoded(std::move(decoded), source);
  return true;
}

}  // namespace vantorel
