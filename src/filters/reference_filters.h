// The filter adapters written plainly: work-matrix copies of every channel and the
// reference grid core. The pipeline can be switched onto them to prove that the fast
// filters give the same bytes.
#pragma once

#include <opencv2/core.hpp>

namespace vantorel {

void JointBilateralReferenceCPU(const cv::Mat& source, const cv::Mat& guide, cv::Mat& output,
                                double sigma_s, double sigma_r);
void BilateralC3ReferenceCPU(const cv::Mat& source, cv::Mat& output, double sigma_s, double sigma_r);
void Bilateral8UC3ReferenceCPU(const cv::Mat& source, cv::Mat& destination, double sigma_s,
                               double sigma_r);

// When on, JointBilateralCPU, BilateralC3CPU and Bilateral8UC3CPU run the reference
// versions. For tests and benchmarks; off by default.
void UseReferenceFilters(bool on);
bool ReferenceFiltersInUse();

}  // namespace vantorel
