// The filter adapters: OpenCV images in and out of the filter core.
#pragma once

#include <functional>

#include <opencv2/core.hpp>

namespace vantorel {

// Smooths a single-channel float image along the edges of a guide.
//   source   CV_32FC1, continuous; its size sets every size.
//   guide    of the same size, continuous: CV_32FC1, or CV_32FC3 whose first channel guides;
//            may be the source itself.
//   output   becomes rows x cols CV_32FC1; a matching one keeps its buffer. May be an input.
//   sigma_s  pixels per grid cell; sigma_r  guide units per grid cell.
void JointBilateralCPU(const cv::Mat& source, const cv::Mat& guide, cv::Mat& output,
                       double sigma_s, double sigma_r);

// Receives rows [first, end) of a smoothed channel: (end - first) x cols floats, row after row.
using SmoothedRows = std::function<void(int first, int end, const float* smoothed)>;

// Smooths channel k of a three-channel float image by its own edges and hands the result
// over in bands of rows, each band once, several at a time from different threads.
//   source   CV_32FC3, continuous.
//   k        0, 1 or 2.
//   sigma_s  pixels per grid cell; sigma_r  channel units per grid cell.
//   consume  may change any channel of the source in the rows it is given (and no
//            others): by then the filter reads nothing of them but what it has read.
void BilateralChannelInBandsCPU(const cv::Mat& source, int k, double sigma_s, double sigma_r,
                                const SmoothedRows& consume);

// The same result gathered in a plane.
//   plane    becomes rows x cols CV_32FC1; a matching one keeps its buffer. Must not share
//            memory with the source.
void BilateralChannelCPU(const cv::Mat& source, int k, cv::Mat& plane, double sigma_s,
                         double sigma_r);

// Smooths each channel of an 8-bit three-channel image by its own edges, on the 0-to-1 scale.
//   source       CV_8UC3, continuous.
//   destination  becomes rows x cols CV_8UC3; a matching one keeps its buffer. May be the source.
//   sigma_s      pixels per grid cell; sigma_r  units of the 0-to-1 scale per grid cell.
void Bilateral8UC3CPU(const cv::Mat& source, cv::Mat& destination, double sigma_s, double sigma_r);

// The same for 16 bits: each channel on the same 0-to-1 scale (the sample over 65535, so
// sigma_r keeps its meaning: 0.02 spans 257 times as many levels as with bytes), the result
// rounded back to 16 bits (v * 65535 + 0.5, truncated).
//   source       CV_16UC3, continuous.
//   destination  becomes rows x cols CV_16UC3; a matching one keeps its buffer. May be the source.
void Bilateral16UC3CPU(const cv::Mat& source, cv::Mat& destination, double sigma_s, double sigma_r);

}  // namespace vantorel
