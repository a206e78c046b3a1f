// Encoding results: which formats can take them, the output options, and the metadata.
#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "dehazefile/dehaze_file.h"
#include "dehazefile/extension_names.h"
#include "dehazefile/in_memory_formats.h"
#include "dehazefile/stderr_capture.h"

namespace vantorel {

namespace {

// ".jpg" from "jpg" or ".jpg".
std::string DottedExtension(const std::string& extension) {
  if (extension.empty() || extension[0] == '.') return extension;
  return "." + extension;
}


// The library's messages may hold line breaks; an error is one line.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// Encodes with the codecs' own messages and exceptions turned into `error`.
bool Encode(const std::string& extension, const cv::Mat& pixels, const std::vector<int>& params,
            std::vector<unsigned char>& encoded, std::string& error) {
  StderrCapture codec_messages;
  bool ok = false;
  try {
    ok = cv::imencode(extension, pixels, encoded, params);
  } catch (const cv::Exception& e) {
    codec_messages.Take();
    error = "the encoder failed: " + OneLine(e.err);
    return false;
  }
  const std::string codec_said = codec_messages.Take();
  if (!ok) {
    error = "the encoder failed" + (codec_said.empty() ? std::string() : " (" + codec_said + ")");
  }
  return ok;
}

// Whether a picture of `type` survives the encoder for `extension` as a picture of that
// type and size. The first answer for each extension and type is kept: encoders do not
// change while the process runs.
bool EncoderTakes(const std::string& extension, int type) {
  static std::mutex mutex;
  static std::map<std::pair<std::string, int>, bool> known;
  const auto key = std::make_pair(Lowercase(extension), type);
  {
    const std::lock_guard<std::mutex> lock(mutex);
    const auto it = known.find(key);
    if (it != known.end()) return it->second;
  }
  // Varied values, so that a format that keeps one channel, one bit or 8 of 16 bits cannot pass.
  cv::Mat probe(5, 7, type);
  cv::randu(probe, 0, CV_MAT_DEPTH(type) == CV_16U ? 65536 : 256);
  std::vector<unsigned char> encoded;
  std::string ignored;
  bool takes = Encode(extension, probe, {}, encoded, ignored);
  if (takes) {
    StderrCapture codec_messages;
    cv::Mat back;
    try {
      back = cv::imdecode(encoded, cv::IMREAD_UNCHANGED);
    } catch (const cv::Exception&) {
    }
    takes = !back.empty() && back.size() == probe.size() && back.type() == type;
  }
  const std::lock_guard<std::mutex> lock(mutex);
  known[key] = takes;
  return takes;
}

bool CanWrite(const std::string& bare_or_dotted, int type, const char* what, std::string& why) {
  const std::string extension = DottedExtension(bare_or_dotted);
  if (extension.size() < 2 || !cv::haveImageWriter("x" + extension)) {
    why = "no image format is known for this file extension";
    return false;
  }
  // Decided without trying: the encoders of these write through a temporary file.
  if (HoldsFloatPixels(extension)) {
    why = std::string("this file format cannot hold ") + what;
    return false;
  }
  if (!EncodesInMemory(extension)) {
    why = "this file format is written only through a temporary file, which is not made here";
    return false;
  }
  if (!EncoderTakes(extension, type)) {
    why = std::string("this file format cannot hold ") + what;
    return false;
  }
  return true;
}

// The encoder parameters the options ask for in this format; none where an option keeps
// its default, so that the default result is the library's own default encoding.
std::vector<int> EncoderParams(const std::string& extension, const OutputOptions& options) {
  std::vector<int> params;
  if (ExtensionIsOneOf(extension, {".jpg", ".jpeg", ".jpe"}) && options.jpeg_quality != OutputOptions().jpeg_quality) {
    params = {cv::IMWRITE_JPEG_QUALITY, options.jpeg_quality};
  } else if (ExtensionIsOneOf(extension, {".webp"}) && options.webp_quality > 0) {
    params = {cv::IMWRITE_WEBP_QUALITY, options.webp_quality};
  } else if (ExtensionIsOneOf(extension, {".png"}) && options.png_compression >= 0) {
    params = {cv::IMWRITE_PNG_COMPRESSION, options.png_compression};
  }
  return params;
}

}  // namespace

std::string FileExtension(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot);
}

bool CanWriteFormat(const std::string& extension, std::string& why) {
  return CanWrite(extension, CV_8UC3, "a colour picture of 8 bits per channel", why);
}

bool CanWriteGreyFormat(const std::string& extension, std::string& why) {
  return CanWrite(extension, CV_8UC1, "a grey picture of 8 bits", why);
}

bool CanWriteDeepFormat(const std::string& extension, std::string& why) {
  return CanWrite(extension, CV_16UC3, "a colour picture of 16 bits per channel", why);
}

bool EncodeResult(const SourcePicture& source, const cv::Mat& result_pixels, const std::string& extension,
                  const OutputOptions& options, std::vector<unsigned char>& encoded, std::string& note,
                  std::string& error, const std::string& result_name) {
  note.clear();
  if (!CheckOutputOptions(options, error)) return false;
  const std::string dotted = DottedExtension(extension);
  if (result_pixels.channels() != 3) return Encode(dotted, result_pixels, EncoderParams(dotted, options), encoded, error);

  const int depth = ResultDepth(source.pixels.empty() ? result_pixels.depth() : source.pixels.depth(), dotted,
                                options.depth, error);
  if (depth < 0) return false;
  // Alpha where the format holds it at this depth, with grey in one channel or, where the
  // format has no grey with alpha (PNG through the image library), in three.
  const bool grey_alpha = EncoderTakes(dotted, CV_MAKETYPE(depth, 2));
  const bool alpha = !source.alpha.empty() && (EncoderTakes(dotted, CV_MAKETYPE(depth, 4)) || (source.grey && grey_alpha));
  GreyLayout grey = GreyLayout::kNone;
  if (source.grey) {
    const bool one_channel = alpha ? grey_alpha : EncoderTakes(dotted, CV_MAKETYPE(depth, 1));
    grey = one_channel ? GreyLayout::kOneChannel : GreyLayout::kThreeChannels;
  }
  const cv::Mat result = AssembleResult(result_pixels, grey, alpha ? source.alpha : cv::Mat(), depth);
  if (!Encode(dotted, result, EncoderParams(dotted, options), encoded, error)) return false;
  // Into the encoded bytes, before the file is written and renamed into place.
  note = source.metadata.InsertInto(result_name, result.cols, result.rows, encoded, options.strip_metadata);
  if (!source.alpha.empty() && !alpha) {
    const std::string dropped = result_name + ": " + FormatName(dotted) +
                                " cannot hold transparency: the result has the colour alone, without the alpha channel";
    note = note.empty() ? dropped : note + "; " + dropped;
  }
  return true;
}

}  // namespace vantorel
