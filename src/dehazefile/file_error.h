// How the file layer reports a failure: the kind, for the callers that act on it, and one
// line saying why (no trailing newline; the caller adds the file's name unless a function
// says otherwise). Every call of the layer that can fail returns false and fills one.
#pragma once

#include <string>
#include <utility>

namespace vantorel {

struct FileError {
  enum class Kind {
    kOther,
    kUnreadable,      // the source could not be decoded as a picture
    kWriteProtected,  // the result exists and may not be written (forcing replaces it)
    kNoSpace,         // the file system is full, or the user's quota is
  };
  Kind kind = Kind::kOther;
  std::string message;

  FileError() = default;
  FileError(Kind k, std::string text) : kind(k), message(std::move(text)) {}
};

}  // namespace vantorel
