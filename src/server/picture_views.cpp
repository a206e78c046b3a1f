#include "server/picture_views.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "dehazefile/picture_parts.h"

namespace vantorel {

cv::Mat ScaleToFit(const cv::Mat& picture, int max_cols, int max_rows) {
  if (picture.cols <= max_cols && picture.rows <= max_rows) return picture;
  const double factor = std::min(static_cast<double>(max_cols) / picture.cols,
                                 static_cast<double>(max_rows) / picture.rows);
  const int cols = std::clamp(static_cast<int>(std::lround(picture.cols * factor)), 1, max_cols);
  const int rows = std::clamp(static_cast<int>(std::lround(picture.rows * factor)), 1, max_rows);
  cv::Mat scaled;
  cv::resize(picture, scaled, cv::Size(cols, rows), 0, 0, cv::INTER_AREA);
  return scaled;
}

cv::Mat ReducedCopy(const cv::Mat& picture) {
  cv::Mat reduced = ScaleToFit(picture, kPreviewLongSide, kPreviewLongSide);
  return reduced.data == picture.data ? picture.clone() : reduced;
}

cv::Mat MapToGrey(const cv::Mat& transmission) {
  cv::Mat grey;
  transmission.convertTo(grey, CV_8U, 255.0);
  return grey;
}

std::vector<unsigned char> EncodePng(const cv::Mat& picture) {
  std::vector<unsigned char> bytes;
  cv::imencode(".png", AtDepth(picture, CV_8U), bytes, {cv::IMWRITE_PNG_COMPRESSION, 1});
  return bytes;
}

std::vector<unsigned char> EncodeJpeg(const cv::Mat& picture) {
  std::vector<unsigned char> bytes;
  cv::imencode(".jpg", AtDepth(picture, CV_8U), bytes, {cv::IMWRITE_JPEG_QUALITY, 90});
  return bytes;
}

}  // namespace vantorel
