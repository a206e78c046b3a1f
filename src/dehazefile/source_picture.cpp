// Reading a source, from a file or from bytes: the memory check, the decode, the metadata.
#include "dehazefile/dehaze_file.h"
#include "dehazefile/source_reader.h"

#include <sys/stat.h>

namespace vantorel {

namespace {

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

bool ReadSourceFile(const std::string& path, SourcePicture& source, FileError& error, bool will_dehaze) {
  error = FileError();
  if (!IsReadableKind(path, error)) return false;
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
