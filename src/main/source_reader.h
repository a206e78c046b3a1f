// Reading the source image as 3-channel 8-bit BGR.
#pragma once

#include <string>

#include <opencv2/core.hpp>

namespace vantorel {

// Decodes `path` as CV_8UC3 (grey, 16-bit and alpha files are converted). On failure
// returns an empty matrix and sets `error` to the reason.
cv::Mat ReadSourceImage(const std::string& path, std::string& error);

}  // namespace vantorel
