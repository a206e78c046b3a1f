// Generated pictures shared by the benchmarks, so that competing dehazers are timed on the
// same input.
#ifndef VANTOREL_BENCH_BENCH_SCENES_H_
#define VANTOREL_BENCH_BENCH_SCENES_H_

#include <cstdlib>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace vantorel {

// A scene with texture and depth: noise-textured colour bands, hazier toward the top.
inline cv::Mat HazyScene(int rows, int cols) {
  cv::Mat scene(rows, cols, CV_8UC3);
  cv::RNG rng(42);
  for (int y = 0; y < rows; ++y) {
    const double t = 0.3 + 0.7 * y / rows;  // transmission grows toward the bottom
    for (int x = 0; x < cols; ++x) {
      const double band = ((x / 37 + y / 53) % 5) / 5.0;
      const double clear[3] = {0.2 + 0.3 * band, 0.5 - 0.2 * band, 0.3 + 0.4 * band};
      cv::Vec3b& p = scene.at<cv::Vec3b>(y, x);
      for (int k = 0; k < 3; ++k) {
        const double v = clear[k] * t + 0.85 * (1 - t) + rng.gaussian(0.02);
        p[k] = cv::saturate_cast<uchar>(v * 255.0);
      }
    }
  }
  return scene;
}

// The photo of the shared samples (VANTOREL_BENCH_PHOTO at run time, else where the build
// found it) scaled to `size`, or empty when it cannot be read.
inline cv::Mat BenchPhoto(cv::Size size) {
  const char* path = std::getenv("VANTOREL_BENCH_PHOTO");
#ifdef VANTOREL_BENCH_PHOTO
  if (path == nullptr) path = VANTOREL_BENCH_PHOTO;
#endif
  if (path == nullptr) return cv::Mat();
  const cv::Mat photo = cv::imread(path, cv::IMREAD_COLOR);
  if (photo.empty()) return photo;
  cv::Mat scaled;
  cv::resize(photo, scaled, size, 0, 0, cv::INTER_AREA);
  return scaled;
}

}  // namespace vantorel

#endif  // VANTOREL_BENCH_BENCH_SCENES_H_
