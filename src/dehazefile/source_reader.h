// Decoding the source picture at the depth it is stored in, with its alpha apart, and a
// reason when it cannot be decoded.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace vantorel {

// A decoded source, turned upright as the image library turns it (the EXIF orientation).
struct DecodedSource {
  // CV_8UC3 or CV_16UC3 BGR, or CV_8UC1 or CV_16UC1 for a grey source. An 8-bit colour
  // source gives exactly what cv::IMREAD_COLOR gives; sources of other depths (float TIFF)
  // are converted to 8 bits as that flag does.
  cv::Mat picture;
  // The alpha channel, of the picture's size and depth, one channel; empty when the source
  // has none.
  cv::Mat alpha;
};

// Decodes `path`. On failure the picture is empty and `error` holds the reason.
DecodedSource ReadSourceImage(const std::string& path, std::string& error);

// The same for the bytes of a file in memory.
DecodedSource DecodeSourceImage(const std::vector<unsigned char>& bytes, std::string& error);

}  // namespace vantorel
