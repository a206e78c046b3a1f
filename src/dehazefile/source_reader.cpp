// Reading the source image at its depth, with its alpha, and a reason when it cannot be read.
#include "dehazefile/source_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <functional>

#include <sys/stat.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

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

// What the first bytes of a file tell about its channels.
struct HeaderHints {
  bool may_carry_alpha = true;
  bool grey_with_alpha = false;  // the reader gives such a picture as colour
};

// JPEG, PPM and PGM never hold alpha, nor a PNG whose header names a colour type without
// alpha or palette; other formats may.
HeaderHints HintsOf(const unsigned char* head, size_t size) {
  HeaderHints hints;
  static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size >= 2 && head[0] == 0xFF && head[1] == 0xD8) {  // JPEG
    hints.may_carry_alpha = false;
  } else if (size >= 2 && head[0] == 'P' && (head[1] == '5' || head[1] == '6')) {  // PGM, PPM
    hints.may_carry_alpha = false;
  } else if (size >= 26 && std::memcmp(head, kPng, 8) == 0 && std::memcmp(head + 12, "IHDR", 4) == 0) {
    const unsigned char colour_type = head[25];
    hints.may_carry_alpha = colour_type == 3 || colour_type == 4 || colour_type == 6;  // palette, grey + alpha, RGBA
    hints.grey_with_alpha = colour_type == 4;
  }
  return hints;
}

// The eight ways a reader may turn a picture upright: none, the flips, the quarter turns.
cv::Mat Turned(const cv::Mat& picture, int way) {
  cv::Mat turned = way >= 4 ? picture.t() : picture.clone();
  static const int kFlips[4] = {2, 1, 0, -1};  // 2: no flip
  if (kFlips[way % 4] != 2) cv::flip(turned, turned, kFlips[way % 4]);
  return turned;
}

// The alpha of `unchanged` (the picture decoded as stored, with all its channels) turned
// as the reader turned `upright` (the picture decoded without alpha). The turn is the one
// that takes the stored colour to the upright one; when none does, the alpha is dropped.
cv::Mat UprightAlpha(const cv::Mat& unchanged, const cv::Mat& upright) {
  const int channels = unchanged.channels();
  if ((channels != 2 && channels != 4) || unchanged.depth() != upright.depth()) return cv::Mat();
  cv::Mat colour, alpha;
  cv::extractChannel(unchanged, alpha, channels - 1);
  if (upright.channels() == 1) {
    cv::extractChannel(unchanged, colour, 0);
  } else if (channels == 4) {
    cv::cvtColor(unchanged, colour, cv::COLOR_BGRA2BGR);
  } else {
    cv::extractChannel(unchanged, colour, 0);
    cv::cvtColor(colour, colour, cv::COLOR_GRAY2BGR);
  }
  for (int way = 0; way < 8; ++way) {
    const cv::Mat turned = Turned(colour, way);
    if (turned.size() == upright.size() && cv::norm(turned, upright, cv::NORM_INF) == 0.0) return Turned(alpha, way);
  }
  return cv::Mat();
}

// Decodes at the stored depth with the orientation applied, then the alpha apart when the
// file may hold one. A depth other than 8 or 16 bits is read as 8-bit colour, as before.
template <typename DecodeFlags>
DecodedSource DecodeAtDepth(const DecodeFlags& decode, const HeaderHints& hints, std::string& error,
                            const std::function<std::string()>& why_empty) {
  DecodedSource source;
  source.picture = DecodeWithReasons([&] { return decode(cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR); }, why_empty, error);
  if (source.picture.empty()) return source;
  const int depth = source.picture.depth();
  if (depth != CV_8U && depth != CV_16U) {
    source.picture = DecodeWithReasons([&] { return decode(cv::IMREAD_COLOR); }, why_empty, error);
    return source;
  }
  // A grey picture with alpha comes as colour of three equal channels: grey again.
  if (hints.grey_with_alpha && source.picture.channels() == 3) cv::extractChannel(source.picture, source.picture, 0);
  if (hints.may_carry_alpha) {
    std::string ignored;
    const cv::Mat unchanged = DecodeWithReasons([&] { return decode(cv::IMREAD_UNCHANGED); }, why_empty, ignored);
    if (!unchanged.empty()) source.alpha = UprightAlpha(unchanged, source.picture);
  }
  return source;
}

}  // namespace

DecodedSource ReadSourceImage(const std::string& path, std::string& error) {
  unsigned char head[26] = {};
  size_t size = 0;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    size = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
  }
  return DecodeAtDepth([&path](int flags) { return cv::imread(path, flags); }, HintsOf(head, size), error,
                       [&path] { return WhyUnreadable(path); });
}

DecodedSource DecodeSourceImage(const std::vector<unsigned char>& bytes, std::string& error) {
  if (bytes.empty()) {
    error = "the file is empty";
    return DecodedSource();
  }
  // Only formats decoded in memory are handed to the library: it would copy any other to
  // a file in the temporary folder.
  error = WhyNotDecodedInMemory(bytes.data(), bytes.size());
  if (!error.empty()) return DecodedSource();
  return DecodeAtDepth([&bytes](int flags) { return cv::imdecode(bytes, flags); },
                       HintsOf(bytes.data(), bytes.size()), error,
                       [] { return std::string("not an image in a supported format, or the file is damaged"); });
}

}  // namespace vantorel
