// Copies between image channels and work matrices, for the reference adapters and tests.
#pragma once

#include <opencv2/core.hpp>

#include "work_matrix.h"

namespace vantorel {

// Copies channel k of an n-channel CV_32F image (n = 1 to 3, interleaved) into `matrix`,
// which already has the image's sizes. Rows are addressed through the image's row step.
void LoadChannel(const cv::Mat& image, int k, int n, WorkMatrix& matrix);

// The reverse of LoadChannel: element (c, r) becomes channel k of pixel (r, c), rounded
// to float. The image already has its final size and type.
void StoreChannel(const WorkMatrix& matrix, cv::Mat& image, int k, int n);

}  // namespace vantorel
