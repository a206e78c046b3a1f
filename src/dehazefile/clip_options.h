// How a clip is dehazed and its result encoded. The ranges, defaults and names of these
// fields are in clip_option_table.h.
#pragma once

#include <string>

namespace vantorel {

struct ClipOptions {
  double temporal_window = 1.0;   // seconds, 0..60; 0 = every frame on its own
  std::string video_format;       // mp4, mkv, mov or webm; "" = the result's extension
  std::string video_codec;        // h264, h265, vp9 or ffv1; "" = the container's default
  int crf = 18;                   // 0..51: constant quality of h264, h265 and vp9
  std::string preset = "medium";  // ultrafast .. veryslow
};

}  // namespace vantorel
