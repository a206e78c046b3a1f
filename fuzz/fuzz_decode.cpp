// Fuzz target: arbitrary bytes decoded as the tool decodes a source file (the header
// size check, then the image library with IMREAD_COLOR), and the pipeline run on
// whatever decodes.
//
// Each run is kept small: sources whose header declares more than kMaxPixels are
// skipped before decoding, and run.sh sets OPENCV_IO_MAX_IMAGE_PIXELS so that the
// library refuses larger pictures of the other formats before allocating them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "fuzz_common.h"
#include "imagedehaze/dehaze.h"
#include "dehazefile/image_header.h"

namespace {

constexpr uint64_t kMaxPixels = 64 * 64;

[[noreturn]] void Broken(const char* what) { vantorel::FuzzPropertyBroken("fuzz_decode", what); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vantorel::PrepareLibraryForFuzzing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantorel::DeclaredSize declared;
  if (vantorel::ReadDeclaredSize(data, size, declared) && declared.cols * declared.rows > kMaxPixels) return 0;

  const std::vector<uint8_t> bytes(data, data + size);
  cv::Mat picture;
  try {
    picture = cv::imdecode(bytes, cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
    return 0;  // the tool reports these as an unreadable source
  }
  if (picture.empty()) return 0;
  if (picture.type() != CV_8UC3 || !picture.isContinuous()) Broken("decoded picture is not continuous 8-bit BGR");
  if (static_cast<uint64_t>(picture.cols) * static_cast<uint64_t>(picture.rows) > kMaxPixels) return 0;

  const std::vector<uint8_t> before(picture.data, picture.data + picture.total() * 3);
  for (const float thickness : {1.0f, 0.35f}) {
    cv::Mat working = picture.clone();
    if (!vantorel::DehazeCPU(working.data, working.cols, working.rows, thickness)) {
      Broken("the pipeline refused a decoded picture");
    }
  }
  if (!std::equal(before.begin(), before.end(), picture.data)) Broken("the pipeline wrote outside its buffer");
  return 0;
}
