// Pictures for the screen: scaled to fit the page's panels and encoded for the browser.
// They carry no metadata; what is saved goes through EncodeResult instead.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

namespace vantorel {

// `picture` scaled down (area averaging) to fit max_cols x max_rows, keeping its shape;
// `picture` itself when it fits already. Never enlarged; each side at least 1.
cv::Mat ScaleToFit(const cv::Mat& picture, int max_cols, int max_rows);

// The copy the quick previews are made from: long side at most kPreviewLongSide.
constexpr int kPreviewLongSide = 640;
cv::Mat ReducedCopy(const cv::Mat& picture);

// The transmission map (rows x cols floats in [0, 1]) as grey bytes: 255 clear, 0 opaque.
cv::Mat MapToGrey(const cv::Mat& transmission);

// Lossless, for what must show the exact pixels: PNG, quickly compressed.
std::vector<unsigned char> EncodePng(const cv::Mat& picture);
// For the quick previews, which are replaced a moment later.
std::vector<unsigned char> EncodeJpeg(const cv::Mat& picture);

}  // namespace vantorel
