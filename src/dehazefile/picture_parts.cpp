#include "dehazefile/picture_parts.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "dehazefile/dehaze_file.h"
#include "imagedehaze/huge_page_allocator.h"

namespace vantorel {

cv::Mat ColourForEngine(const cv::Mat& picture) {
  if (picture.channels() == 3) return picture;
  cv::Mat colour;
  cv::cvtColor(picture, colour, cv::COLOR_GRAY2BGR);
  return colour;
}

void KeepWorkingMemoryForMorePictures() { KeepFreedMappings(true); }

bool DehazeColour(cv::Mat& colour, float thickness, const DehazeOptions& options) {
  CV_Assert((colour.type() == CV_8UC3 || colour.type() == CV_16UC3) && colour.isContinuous());
  if (colour.depth() == CV_16U) {
    return Dehaze16CPU(colour.ptr<unsigned short>(), colour.cols, colour.rows, thickness, options);
  }
  return DehazeCPU(colour.data, colour.cols, colour.rows, thickness, options);
}

bool TransmissionOfColour(const cv::Mat& colour, float thickness, float* transmission) {
  CV_Assert((colour.type() == CV_8UC3 || colour.type() == CV_16UC3) && colour.isContinuous());
  if (colour.depth() == CV_16U) {
    return EstimateTransmissionMap16CPU(colour.ptr<unsigned short>(), colour.cols, colour.rows, thickness,
                                        transmission);
  }
  return EstimateTransmissionMapCPU(colour.data, colour.cols, colour.rows, thickness, transmission);
}

cv::Mat AtDepth(const cv::Mat& picture, int depth) {
  if (picture.depth() == depth) return picture;
  cv::Mat converted;
  picture.convertTo(converted, depth, depth == CV_8U ? 1.0 / 257.0 : 257.0);
  return converted;
}

cv::Mat AssembleResult(const cv::Mat& dehazed_colour, GreyLayout grey, const cv::Mat& alpha, int depth) {
  cv::Mat result = AtDepth(dehazed_colour, depth);
  if (grey != GreyLayout::kNone) cv::cvtColor(result, result, cv::COLOR_BGR2GRAY);
  if (grey == GreyLayout::kThreeChannels) cv::cvtColor(result, result, cv::COLOR_GRAY2BGR);
  if (alpha.empty()) return result;
  std::vector<cv::Mat> channels;
  cv::split(result, channels);
  channels.push_back(AtDepth(alpha, depth));
  cv::merge(channels, result);
  return result;
}

std::string FormatName(const std::string& extension) {
  std::string name = extension.empty() || extension[0] != '.' ? extension : extension.substr(1);
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (name == "JPG" || name == "JPE") return "JPEG";
  if (name == "TIF") return "TIFF";
  if (name == "WEBP") return "WebP";
  return name;
}

int ResultDepth(int source_depth, const std::string& extension, int requested, std::string& why) {
  std::string ignored;
  const bool holds_16 = CanWriteDeepFormat(extension, ignored);
  if (requested == 16) {
    if (holds_16) return CV_16U;
    why = FormatName(extension) + " cannot hold 16 bits per channel: choose depth 8, or PNG or TIFF";
    return -1;
  }
  if (requested == 8) return CV_8U;
  return source_depth == CV_16U && holds_16 ? CV_16U : CV_8U;
}

std::string DepthRefusal(const std::string& extension, int requested) {
  std::string why;
  // The source's depth only matters when none is asked for, and then any format will do.
  return ResultDepth(CV_8U, extension, requested, why) < 0 ? why : "";
}

}  // namespace vantorel
