// Copying image channels into and out of the transposed double-precision work matrix.
#include "filters/work_matrix.h"

namespace vantorel {

// Rows are addressed through the image's own row step, which for the packed images the
// pipeline passes is the same as reading one continuous block.
void LoadChannel(const cv::Mat& image, int k, int n, WorkMatrix& matrix) {
  for (int32_t r = 0; r < matrix.y_size; ++r) {
    const float* row = image.ptr<float>(r);
    for (int32_t c = 0; c < matrix.x_size; ++c) {
      matrix(c, r) = static_cast<double>(row[static_cast<size_t>(c) * n + k]);
    }
  }
}

void StoreChannel(const WorkMatrix& matrix, cv::Mat& image, int k, int n) {
  for (int32_t r = 0; r < matrix.y_size; ++r) {
    float* row = image.ptr<float>(r);
    for (int32_t c = 0; c < matrix.x_size; ++c) {
      row[static_cast<size_t>(c) * n + k] = static_cast<float>(matrix(c, r));
    }
  }
}

}  // namespace vantorel
