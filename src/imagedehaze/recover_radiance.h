// Radiance recovery in YCrCb, blending of low-transmission regions, and tone adjustment.
#pragma once

#include <opencv2/core.hpp>

#include "imagedehaze/auto_adjust.h"
#include "imagedehaze/edge_filters.h"
#include "imagedehaze/frame_estimates.h"
#include "imagedehaze/working_images.h"

namespace vantorel {

// Restores the scene radiance. The images are taken by header; their pixels are only
// read, and each header is released as soon as the stage is done with it, so a caller that
// hands over its last reference frees that memory early.
//   ycrcb         CV_32FC3 normalised picture in Y, Cr, Cb.
//   airlight      the airlight in B, G, R order.
//   transmission  CV_32FC1 refined transmission, non-negative.
//   filters       the edge-preserving filters to run.
//   tone_look     the look of the final tone adjustment; a natural one also restores and
//                 blends in the natural look's way (RecoverPixelsNatural,
//                 BlendChannelNatural, NaturalSmoothingSigma).
//   estimates     when not null, sees the tone curve's estimates and may replace them.
// Returns `dehazed`, CV_32FC3 in B, G, R, clamped to [0, 1] and tone-adjusted.
cv::Mat RecoverRadianceCPU(cv::Mat ycrcb, const cv::Vec3f& airlight,
                           cv::Mat transmission,
                           const EdgeFilters& filters = LibraryEdgeFilters(),
                           const ToneLook& tone_look = ToneLook{},
                           FrameEstimates* estimates = nullptr);

// The same in the working images: work.picture (CV_32FC3 Y, Cr, Cb, continuous) becomes the
// dehazed picture where it lies, work.transmission is read (and is done with after the
// blend), and the tone curve's logarithms are kept in work.tone_logs.
void RecoverRadiance(WorkingImages& work, const cv::Vec3f& airlight, const EdgeFilters& filters,
                     const ToneLook& tone_look, FrameEstimates* estimates);

}  // namespace vantorel
