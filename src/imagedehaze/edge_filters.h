// The edge-preserving filters the pipeline's stages run, handed down to them. The library
// runs its own (filters/bilateral_filters.h); the exactness tests run the whole pipeline
// through the straightforward ones instead, to prove that every byte is the same.
#pragma once

#include <opencv2/core.hpp>

#include "filters/bilateral_filters.h"

namespace vantorel {

struct EdgeFilters {
  // Same contracts as JointBilateralCPU, BilateralChannelInBandsCPU, Bilateral8UC3CPU and
  // Bilateral16UC3CPU.
  void (*joint)(const cv::Mat& source, const cv::Mat& guide, cv::Mat& output, double sigma_s,
                double sigma_r);
  void (*channel)(const cv::Mat& source, int k, double sigma_s, double sigma_r,
                  const SmoothedRows& consume);
  void (*bytes)(const cv::Mat& source, cv::Mat& destination, double sigma_s, double sigma_r);
  void (*words)(const cv::Mat& source, cv::Mat& destination, double sigma_s, double sigma_r);
};

// The library's filters.
const EdgeFilters& LibraryEdgeFilters();

}  // namespace vantorel
