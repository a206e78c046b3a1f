#include "dehazefile/clip_option_table.h"

#include <algorithm>

namespace vantorel {

namespace {

std::string ChoiceList(const std::vector<std::string>& choices) {
  std::string text;
  for (size_t i = 0; i < choices.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i];
  }
  return text;
}

std::string NumberText(double value) {
  std::string text = std::to_string(value);
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  return text;
}

}  // namespace

const std::vector<ClipOptionSpec>& ClipOptionTable() {
  using Kind = ClipOptionSpec::Kind;
  static const std::vector<ClipOptionSpec> table = {
      {Kind::kDecimal, "temporal-window", "temporal_window", "the temporal window", "S",
       "Clips: seconds over which each frame's whole-picture estimates are averaged, against "
       "flicker, 0..60; 0 dehazes every frame on its own; default 1",
       0, 60, {}, nullptr, &ClipOptions::temporal_window, nullptr},
      {Kind::kChoice, "video-format", "video_format", "the video format", "FMT",
       "Clips: the result's container, mp4, mkv, mov or webm; default: the result's extension "
       "(with -o: the source's)",
       0, 0, {"mp4", "mkv", "mov", "webm"}, nullptr, nullptr, &ClipOptions::video_format},
      {Kind::kChoice, "video-codec", "video_codec", "the video codec", "CODEC",
       "Clips: h264, h265, vp9 or ffv1 (lossless, mkv only); default: vp9 for webm, else h264",
       0, 0, {"h264", "h265", "vp9", "ffv1"}, nullptr, nullptr, &ClipOptions::video_codec},
      {Kind::kWholeNumber, "crf", "crf", "the CRF", "N",
       "Clips: constant quality of h264, h265 and vp9, 0..51 (lower is better); default 18",
       0, 51, {}, &ClipOptions::crf, nullptr, nullptr},
      {Kind::kChoice, "preset", "preset", "the preset", "NAME",
       "Clips: the encoder's speed against size, ultrafast .. veryslow (also vp9's speed); default medium",
       0, 0, {"ultrafast", "superfast", "veryfast", "faster", "fast", "medium", "slow", "slower", "veryslow"},
       nullptr, nullptr, &ClipOptions::preset},
  };
  return table;
}

bool CheckClipOptions(const ClipOptions& options, std::string& error) {
  const ClipOptions defaults;
  for (const ClipOptionSpec& entry : ClipOptionTable()) {
    switch (entry.kind) {
      case ClipOptionSpec::Kind::kWholeNumber: {
        const int value = options.*entry.number;
        if (value < entry.min || value > entry.max) {
          error = std::string(entry.what) + " must lie in " + NumberText(entry.min) + ".." + NumberText(entry.max);
          return false;
        }
        break;
      }
      case ClipOptionSpec::Kind::kDecimal: {
        const double value = options.*entry.decimal;
        // Written as a positive test so that NaN is refused too.
        if (!(value >= entry.min && value <= entry.max)) {
          error = std::string(entry.what) + " must lie in " + NumberText(entry.min) + ".." + NumberText(entry.max);
          return false;
        }
        break;
      }
      case ClipOptionSpec::Kind::kChoice: {
        const std::string& value = options.*entry.text;
        const bool is_default = value == defaults.*entry.text;
        if (!is_default && std::find(entry.choices.begin(), entry.choices.end(), value) == entry.choices.end()) {
          error = std::string(entry.what) + " is " + ChoiceList(entry.choices) + ", not '" + value + "'";
          return false;
        }
        break;
      }
    }
  }
  return true;
}

}  // namespace vantorel
