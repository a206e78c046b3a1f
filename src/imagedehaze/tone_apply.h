// Applying the tone curve to pixels: the table lookup, and the chroma step that follows it
// for colour pictures.
#pragma once

#include <opencv2/core.hpp>

#include "imagedehaze/tone_curve.h"

namespace vantorel {

// Replaces every sample of a CV_32F image (any channel count, rows anywhere) by the table
// entry of its level, levels at or above `top` taking the entry of `top`; through the deep
// table when the curve has one.
void ApplyToneTable(const ToneCurve& curve, cv::Mat& image);

// The chroma step: the toned picture keeps its own Y, while its Cr and Cb become the means
// of its own and the untoned input's, which keeps part of the colour the curve washes out.
//   input_ycrcb  CV_32FC3 untoned picture in Y, Cr, Cb; only read.
//   toned_ycrcb  CV_32FC3 toned picture in Y, Cr, Cb, of the same size; updated.
void MixInputChroma(const cv::Mat& input_ycrcb, cv::Mat& toned_ycrcb);

// The natural look's chroma step: the toned picture keeps its own Y and takes the untoned
// input's Cr and Cb, so the curve changes brightness and never colour.
//   input_ycrcb  CV_32FC3 untoned picture in Y, Cr, Cb; only read.
//   toned_ycrcb  CV_32FC3 toned picture in Y, Cr, Cb, of the same size; updated.
void TakeInputChroma(const cv::Mat& input_ycrcb, cv::Mat& toned_ycrcb);

}  // namespace vantorel
