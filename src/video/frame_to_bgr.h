// A decoded frame of any pixel format into 8-bit BGR, with the frame's own matrix and range
// (untagged frames are taken as BT.601 limited range, as players do).
#pragma once

#include <string>
#include <vector>

#include "video/ffmpeg_handles.h"

namespace vantorel {

class FrameToBgr {
 public:
  // Writes the frame's pixels to `bgr` (rows x cols x 3, rows packed). False with a reason
  // when the frame's pixel format cannot be converted.
  bool Convert(const AVFrame* frame, unsigned char* bgr, std::string& error);

 private:
  Scaler scaler_;
  // What the converter was made for.
  int format_ = -1, cols_ = 0, rows_ = 0;
  AVColorSpace matrix_ = AVCOL_SPC_UNSPECIFIED;
  AVColorRange range_ = AVCOL_RANGE_UNSPECIFIED;
  std::vector<unsigned char> planes_;  // green, blue and red, each rows x cols
};

// The options of every conversion to RGB: bicubic chroma up-sampling at full resolution,
// with accurate rounding.
constexpr int kToRgbFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;

// Sets a converter from `frame`'s format to use the frame's matrix and range.
void UseFrameColour(SwsContext* scaler, const AVFrame* frame);

}  // namespace vantorel
