// Reading the source image, with a reason when it cannot be read.
#include "dehazefile/source_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include <opencv2/imgcodecs.hpp>

#include "dehazefile/in_memory_formats.h"
#include "dehazefile/stderr_capture.h"

namespace vantorel {

namespace {

// The image library only says "empty"; look at the file to tell the user why.
std::string WhyUnreadable(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return "is a directory";
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::strerror(errno);
  std::fclose(file);
  if (info.st_size == 0) return "the file is empty";
  return "not an image in a supported format, or the file is damaged";
}

// Runs `decode`, turning what the codecs say on standard error and what the library
// throws into `error`, with `why_empty` explaining an empty result.
template <typename Decode, typename WhyEmpty>
cv::Mat DecodeWithReasons(const Decode& decode, const WhyEmpty& why_empty, std::string& error) {
  StderrCapture codec_messages;
  cv::Mat image;
  try {
    image = decode();
  } catch (const cv::Exception& e) {
    // The library throws, rather than returning nothing, for some headers it refuses,
    // such as a size above its pixel limit.
    codec_messages.Take();
    error = "the image library cannot decode it: " + e.err;
    return cv::Mat();
  }
  const std::string codec_said = codec_messages.Take();
  if (image.empty()) {
    error = why_empty();
    if (!codec_said.empty()) error += " (" + codec_said + ")";
    return cv::Mat();
  }
  return image;
}

}  // namespace

cv::Mat ReadSourceImage(const std::string& path, std::string& error) {
  return DecodeWithReasons([&path] { return cv::imread(path, cv::IMREAD_COLOR); },
                           [&path] { return WhyUnreadable(path); }, error);
}

cv::Mat DecodeSourceImage(const std::vector<unsigned char>& bytes, std::string& error) {
  if (bytes.empty()) {
    error = "the file is empty";
    return cv::Mat();
  }
  // Only formats decoded in memory are handed to the library: it would copy any other to
  // a file in the temporary folder.
  error = WhyNotDecodedInMemory(bytes.data(), bytes.size());
  if (!error.empty()) return cv::Mat();
  return DecodeWithReasons(
      [&bytes] { return cv::imdecode(bytes, cv::IMREAD_COLOR); },
      [] { return std::string("not an image in a supported format, or the file is damaged"); },
      error);
}

}  // namespace vantorel
