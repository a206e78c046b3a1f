// The filter adapters written plainly: work-matrix copies of every channel and the
// reference grid core, with the same contracts as the library's adapters
// (filters/bilateral_filters.h), which must give the same bytes.
#pragma once

#include <opencv2/core.hpp>

#include "imagedehaze/edge_filters.h"

namespace vantorel {

void JointBilateralReferenceCPU(const cv::Mat& source, const cv::Mat& guide, cv::Mat& output,
                                double sigma_s, double sigma_r);
void BilateralChannelReferenceCPU(const cv::Mat& source, int k, cv::Mat& plane, double sigma_s,
                                  double sigma_r);
// The whole channel smoothed first, then handed over as one band.
void BilateralChannelInBandsReferenceCPU(const cv::Mat& source, int k, double sigma_s, double sigma_r,
                                         const SmoothedRows& consume);
void Bilateral8UC3ReferenceCPU(const cv::Mat& source, cv::Mat& destination, double sigma_s,
                               double sigma_r);
void Bilateral16UC3ReferenceCPU(const cv::Mat& source, cv::Mat& destination, double sigma_s,
                                double sigma_r);

// The four above, for the pipeline's stages.
const EdgeFilters& ReferenceEdgeFilters();

// DehazeCPU through the reference filters: the straightforward pipeline whose bytes the
// library must give for any thread count and band size.
bool ReferenceDehazeCPU(unsigned char* data, int cols, int rows, float haze_thickness);
bool ReferenceDehazeCPU(unsigned short* data, int cols, int rows, float haze_thickness);

}  // namespace vantorel
