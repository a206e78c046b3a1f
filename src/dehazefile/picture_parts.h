// How pictures of every layout the front ends accept go through the engine, which dehazes
// BGR colour of 8 or 16 bits: a grey picture is widened to colour and made grey again,
// an alpha channel is carried past the engine unchanged, and the result is converted to
// the depth it is written at once, at the end.
#pragma once

#include <string>

#include <opencv2/core.hpp>

#include "vantorel/dehaze.h"

namespace vantorel {

// The engine's BGR colour of a grey (one channel) or BGR picture of 8 or 16 bits: grey is
// copied into all three channels; BGR is returned as it is.
cv::Mat ColourForEngine(const cv::Mat& picture);

// For a front end that dehazes picture after picture in one process (a batch of more than
// one, the server, the Python package): from now on the engine keeps the memory of a
// picture's large working images for the next picture instead of giving it back, so that
// the next one need not wait for the kernel to supply and zero it again. The kernel can
// take that memory back whenever it needs it.
void KeepWorkingMemoryForMorePictures();

// Dehazes CV_8UC3 or CV_16UC3 colour in place (DehazeCPU or Dehaze16CPU); false when the
// engine refuses the arguments.
bool DehazeColour(cv::Mat& colour, float thickness, const DehazeOptions& options);

// The transmission map alone of CV_8UC3 or CV_16UC3 colour, rows x cols floats.
bool TransmissionOfColour(const cv::Mat& colour, float thickness, float* transmission);

// A picture of 8 or 16 bits at `depth` (CV_8U or CV_16U): 16 to 8 bits is v / 257 rounded
// to the nearest, 8 to 16 bits is v x 257 (so that 255 becomes 65535).
cv::Mat AtDepth(const cv::Mat& picture, int depth);

// How a grey source's result is laid out.
enum class GreyLayout {
  kNone,           // a colour source: the colour as it is
  kOneChannel,     // grey, one channel (the library's BGR-to-grey weights)
  kThreeChannels,  // that grey in three equal channels, for a format without grey (with alpha)
};

// The result as it is written: the dehazed colour at `depth`, made grey again as `grey`
// says, with `alpha` (empty for none) appended as the last channel at the same depth.
cv::Mat AssembleResult(const cv::Mat& dehazed_colour, GreyLayout grey, const cv::Mat& alpha, int depth);

// The depth a result is written at, CV_8U or CV_16U.
//   source_depth  the source's, CV_8U or CV_16U
//   extension     the result's format, as for CanWriteFormat
//   requested     8 or 16 as asked, or 0 for the source's depth where the format holds it
//                 and else 8
// -1 with a reason naming the format in `why` when 16 bits are asked of a format that
// cannot hold them.
int ResultDepth(int source_depth, const std::string& extension, int requested, std::string& why);

// "" when results of `requested` depth (0, 8 or 16, as OutputOptions::depth) can be written
// in the format of `extension`, else the reason naming the format: checked before any work.
std::string DepthRefusal(const std::string& extension, int requested);

// The name of a file format for messages: "JPEG", "WebP", "PNG", "TIFF" ...
std::string FormatName(const std::string& extension);

}  // namespace vantorel
