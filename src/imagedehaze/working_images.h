// The frame-size images one dehaze works in. A caller that dehazes frame after frame (a
// clip) keeps one and hands it to every call: each stage writes into its image with
// create() of the same size and type, which keeps the buffer, so once the clip runs no
// memory of frame size is allocated or faulted in. A frame of another size re-creates
// them. Nothing in them carries over from one call to the next but their buffers: every
// value is written before it is read. A single picture's call has images that are not
// kept: each is released as soon as its last stage is done with it, which keeps the
// call's peak of memory down (where the process dehazes picture after picture, the
// allocator keeps a released image's mapping for a later image: huge_page_allocator.h).
#pragma once

#include <opencv2/core.hpp>

#include "imagedehaze/huge_page_allocator.h"
#include "imagedehaze/tone_curve.h"

namespace vantorel {

struct WorkingImages {
  // Large images go on large pages.
  explicit WorkingImages(bool kept_between_calls) : kept(kept_between_calls) {
    for (cv::Mat* image : {&picture, &transmission, &flatness, &squares, &output, &filtered}) {
      image->allocator = HugePageAllocator();
    }
  }

  // Called when the pipeline is done with `image` for this call.
  void Done(cv::Mat& image) {
    if (!kept) image.release();
  }

  const bool kept;
  // CV_32FC3: the normalised picture in BGR, then in YCrCb, then the dehazed picture.
  cv::Mat picture;
  // CV_32FC1: the dark channel, then the transmission made in its plane.
  cv::Mat transmission;
  // CV_32FC1, natural look only: the flatness weight and the luma's squares it is made from.
  cv::Mat flatness, squares;
  // The dehazed picture in the caller's depth, and the final filter's result, copied to the
  // caller's buffer once nothing can fail any more.
  cv::Mat output, filtered;
  // The tone curve's logarithms, two blocks of them.
  LuminanceLogs tone_logs;
};

}  // namespace vantorel
