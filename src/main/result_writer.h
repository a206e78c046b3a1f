// Writing the result image safely: all or nothing.
#pragma once

#include <string>

#include <opencv2/core.hpp>

namespace vantorel {

// True when the image library has an encoder for the path's extension.
bool CanEncodeTo(const std::string& path);

// Encodes `image` in the format named by the path's extension and replaces `path` with it
// in one step (a temporary file in the same folder, then a rename), so that a failure
// leaves no partial file and never damages an existing one. On failure returns false and
// sets `error` to the reason.
bool WriteImageAtomically(const std::string& path, const cv::Mat& image, std::string& error);

}  // namespace vantorel
