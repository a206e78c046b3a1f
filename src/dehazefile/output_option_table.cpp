#include "dehazefile/output_option_table.h"

namespace vantorel {

const std::vector<OutputOptionSpec>& OutputOptionTable() {
  using Kind = OutputOptionSpec::Kind;
  static const std::vector<OutputOptionSpec> table = {
      {Kind::kWholeNumber, "jpeg-quality", "jpeg_quality", "the JPEG quality", "Q",
       "JPEG quality, 1..100; default 95", 1, 100, &OutputOptions::jpeg_quality, nullptr},
      {Kind::kWholeNumber, "webp-quality", "webp_quality", "the WebP quality", "Q",
       "Lossy WebP of this quality, 1..100; default: lossless WebP", 1, 100, &OutputOptions::webp_quality,
       nullptr},
      {Kind::kWholeNumber, "png-compression", "png_compression", "the PNG compression", "LEVEL",
       "PNG compression level, 0 (none) .. 9 (smallest); default: the image library's (1)", 0, 9,
       &OutputOptions::png_compression, nullptr},
      {Kind::kFlag, "strip-metadata", "strip_metadata", "stripping the metadata", "",
       "Write no EXIF, XMP or IPTC (so no GPS position); the ICC colour profile is kept", 0, 1, nullptr,
       &OutputOptions::strip_metadata},
      {Kind::kWholeNumber, "depth", "depth", "the depth", "BITS",
       "Bits per channel of the result, 8 or 16 (PNG, TIFF, PPM); default: the source's where the format "
       "holds it, else 8",
       8, 16, &OutputOptions::depth, nullptr, true},
  };
  return table;
}

const OutputOptionSpec* FindOutputOption(const std::string& name) {
  for (const OutputOptionSpec& entry : OutputOptionTable()) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

std::string OutputOptionSpec::RangeText() const {
  std::string text = std::to_string(min) + (ends_only ? " or " : "..") + std::to_string(max);
  const int fallback = DefaultNumber();
  if (fallback < min || fallback > max) text += " (" + std::to_string(fallback) + " for the default)";
  return text;
}

bool CheckOutputOptions(const OutputOptions& options, std::string& error) {
  for (const OutputOptionSpec& entry : OutputOptionTable()) {
    if (entry.kind != OutputOptionSpec::Kind::kWholeNumber) continue;
    const int value = options.*entry.number;
    const bool in_range = entry.ends_only ? value == entry.min || value == entry.max : value >= entry.min && value <= entry.max;
    if (!in_range && value != entry.DefaultNumber()) {
      error = std::string(entry.what) + (entry.ends_only ? " must be " : " must lie in ") + entry.RangeText();
      return false;
    }
  }
  return true;
}

}  // namespace vantorel
