// How a clip's result is stored: its container, its video codec and the codec's settings,
// and the rules that tie them together.
#pragma once

#include <string>

namespace vantorel {

struct VideoEncoding {
  std::string container;  // "mp4", "mkv", "mov" or "webm"
  std::string codec;      // "h264", "h265", "vp9" or "ffv1"
  int crf = 18;           // the constant quality of h264, h265 and vp9 (lower is better)
  std::string preset = "medium";  // h264 and h265's preset; vp9's speed follows it
};

// The container of a result file from its extension (".mp4", ".m4v" -> "mp4", ".mkv", ".mov",
// ".webm"), or "" when the extension names none.
std::string ContainerOfExtension(const std::string& extension);

// The codec a container gets when none is asked for: vp9 for webm, else h264.
std::string DefaultVideoCodec(const std::string& container);

// "" when the pair can be written, else the one-line reason.
std::string CheckContainerAndCodec(const std::string& container, const std::string& codec);

// libavformat's muxer and libavcodec's encoder names.
const char* MuxerName(const std::string& container);
const char* EncoderName(const std::string& codec);

// The presets --preset takes, from the fastest to the slowest.
bool KnownPreset(const std::string& preset);

}  // namespace vantorel

namespace vantorel {
// libvpx-vp9's cpu-used for a preset: 8 for ultrafast down to 0 for veryslow (3 for medium).
int Vp9Speed(const std::string& preset);
}  // namespace vantorel
