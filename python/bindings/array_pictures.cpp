#include "bindings/array_pictures.h"

#include <vector>

#include <opencv2/imgproc.hpp>

#include "dehazefile/picture_parts.h"

namespace vantorel::python {

ArrayPicture TakeApart(const cv::Mat& packed, const PictureSize& size, bool rgb) {
  ArrayPicture parts;
  parts.grey = size.channels == 1;
  parts.rgb = rgb && !parts.grey;
  parts.depth = size.depth;
  cv::Mat colour = packed;
  if (size.channels == 4) {
    cv::extractChannel(packed, parts.alpha, 3);
    cv::cvtColor(packed, colour, parts.rgb ? cv::COLOR_RGBA2BGR : cv::COLOR_BGRA2BGR);
  } else if (parts.rgb) {
    cv::cvtColor(packed, colour, cv::COLOR_RGB2BGR);
  }
  if (size.depth == CV_32F) colour.convertTo(colour, CV_16U, 65535.0);
  parts.colour = ColourForEngine(colour);
  return parts;
}

cv::Mat PutTogether(const ArrayPicture& parts) {
  const bool floats = parts.depth == CV_32F;
  // A float alpha is put back as it was, not through 16 bits.
  cv::Mat result = AssembleResult(parts.colour, parts.grey ? GreyLayout::kOneChannel : GreyLayout::kNone,
                                  floats ? cv::Mat() : parts.alpha, parts.colour.depth());
  if (floats) {
    result.convertTo(result, CV_32F, 1.0 / 65535.0);
    if (!parts.alpha.empty()) {
      std::vector<cv::Mat> channels;
      cv::split(result, channels);
      channels.push_back(parts.alpha);
      cv::merge(channels, result);
    }
  }
  if (parts.rgb) cv::cvtColor(result, result, result.channels() == 4 ? cv::COLOR_BGRA2RGBA : cv::COLOR_BGR2RGB);
  return result;
}

}  // namespace vantorel::python
