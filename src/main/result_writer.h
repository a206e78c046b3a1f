// Writing the result image safely: all or nothing.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace vantorel {

// True when the image library has an encoder for the path's extension.
bool CanEncodeTo(const std::string& path);

// Encodes `image` in the format named by the path's extension and replaces `path` with it
// in one step (a temporary file in the same folder, then a rename), so that a failure
// leaves no partial file and never damages an existing one. On failure returns false and
// sets `error` to the reason.
bool WriteImageAtomically(const std::string& path, const cv::Mat& image, std::string& error);

// The two halves of WriteImageAtomically, for a caller that amends the encoded bytes
// before they are written (the metadata is inserted there, so the rename stays the one step).
bool EncodeImage(const std::string& path, const cv::Mat& image, std::vector<unsigned char>& encoded,
                 std::string& error);
bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& encoded,
                         std::string& error);

}  // namespace vantorel
