// Decoding the source picture as 3-channel 8-bit BGR, with a reason when it cannot be.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace vantorel {

// Decodes `path` as CV_8UC3 (grey, 16-bit and alpha files are converted). On failure
// returns an empty matrix and sets `error` to the reason.
cv::Mat ReadSourceImage(const std::string& path, std::string& error);

// The same for the bytes of a file in memory.
cv::Mat DecodeSourceImage(const std::vector<unsigned char>& bytes, std::string& error);

}  // namespace vantorel
