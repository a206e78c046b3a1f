#include "video/video_encoding.h"

#include <algorithm>

#include "dehazefile/extension_names.h"

namespace vantorel {

namespace {

const char* const kPresets[] = {"ultrafast", "superfast", "veryfast", "faster", "fast",
                                "medium",    "slow",      "slower",   "veryslow"};

}  // namespace

std::string ContainerOfExtension(const std::string& extension) {
  const std::string e = Lowercase(extension);
  if (e == ".mp4" || e == ".m4v") return "mp4";
  if (e == ".mkv") return "mkv";
  if (e == ".mov") return "mov";
  if (e == ".webm") return "webm";
  return "";
}

std::string DefaultVideoCodec(const std::string& container) { return container == "webm" ? "vp9" : "h264"; }

std::string CheckContainerAndCodec(const std::string& container, const std::string& codec) {
  if (MuxerName(container) == nullptr) return "clips are written as mp4, mkv, mov or webm, not '" + container + "'";
  if (EncoderName(codec) == nullptr) return "the video codec is h264, h265, vp9 or ffv1, not '" + codec + "'";
  if (container == "webm" && codec != "vp9") return "a webm clip holds vp9 video only, not " + codec;
  if (codec == "ffv1" && container != "mkv") return "ffv1 video is written in mkv only, not in " + container;
  return "";
}

const char* MuxerName(const std::string& container) {
  if (container == "mp4") return "mp4";
  if (container == "mkv") return "matroska";
  if (container == "mov") return "mov";
  if (container == "webm") return "webm";
  return nullptr;
}

const char* EncoderName(const std::string& codec) {
  if (codec == "h264") return "libx264";
  if (codec == "h265") return "libx265";
  if (codec == "vp9") return "libvpx-vp9";
  if (codec == "ffv1") return "ffv1";
  return nullptr;
}

bool KnownPreset(const std::string& preset) {
  return std::find(std::begin(kPresets), std::end(kPresets), preset) != std::end(kPresets);
}

// vp9's speed: 8 for ultrafast down to 0 for veryslow.
int Vp9Speed(const std::string& preset) {
  const auto found = std::find(std::begin(kPresets), std::end(kPresets), preset);
  const int index = found == std::end(kPresets) ? 5 : static_cast<int>(found - std::begin(kPresets));
  return 8 - index;
}

}  // namespace vantorel
