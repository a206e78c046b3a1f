// Measures of the natural look on real photos, printed as a table, so that the figures in
// the README can be made again:
//   natural_look_measures PHOTO...
// For each photo and a dim copy of it (every sample times 0.6): the mean CIEDE2000 from the
// input at thickness 0.1, 0.3, 0.6 and 0.9. For each photo: the mean CIEDE2000 between the
// result of an 800-pixel copy and the full-size result scaled down to 800 pixels, in both
// looks. And on the synthetic fog scene: the largest brightening of its smooth part.
#include <algorithm>
#include <cstdio>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "../tests/tools/ciede2000.h"
#include "../tests/tools/fog_scene.h"
#include "imagedehaze/dehaze.h"

namespace vantorel {
namespace {

cv::Mat Dehazed(const cv::Mat& picture, float thickness, Look look) {
  DehazeOptions options;
  options.look = look;
  cv::Mat result = picture.clone();
  DehazeCPU(result.data, result.cols, result.rows, thickness, options);
  return result;
}

const char* NameOf(Look look) { return look == Look::kNatural ? "natural" : "classic"; }

cv::Mat LongerSideTo(const cv::Mat& picture, int longer) {
  const double scale = static_cast<double>(longer) / std::max(picture.rows, picture.cols);
  cv::Mat scaled;
  cv::resize(picture, scaled, cv::Size(static_cast<int>(picture.cols * scale + 0.5),
                                       static_cast<int>(picture.rows * scale + 0.5)),
             0, 0, cv::INTER_AREA);
  return scaled;
}

void ChangeByThickness(const std::string& name, const cv::Mat& picture) {
  std::printf("%-40s", name.c_str());
  for (const float thickness : {0.1f, 0.3f, 0.6f, 0.9f}) {
    std::printf(" %6.2f", MeanCiede2000(picture, Dehazed(picture, thickness, Look::kNatural)));
  }
  std::printf("\n");
}

void SmallAgainstFull(const std::string& name, const cv::Mat& photo) {
  const cv::Mat small = LongerSideTo(photo, 800);
  for (const Look look : {Look::kNatural, Look::kClassic}) {
    const cv::Mat full_down = LongerSideTo(Dehazed(photo, 0.9f, look), 800);
    std::printf("%-40s %-8s %6.2f\n", name.c_str(), NameOf(look),
                MeanCiede2000(Dehazed(small, 0.9f, look), full_down));
  }
}

}  // namespace
}  // namespace vantorel

int main(int argc, char** argv) {
  using namespace vantorel;
  std::printf("Mean CIEDE2000 from the input, natural look, at 0.1 0.3 0.6 0.9\n");
  for (int i = 1; i < argc; ++i) {
    const cv::Mat photo = cv::imread(argv[i], cv::IMREAD_COLOR);
    if (photo.empty()) {
      std::fprintf(stderr, "%s: cannot be read\n", argv[i]);
      return 1;
    }
    cv::Mat dim;
    photo.convertTo(dim, CV_8U, 0.6);
    ChangeByThickness(argv[i], photo);
    ChangeByThickness(std::string(argv[i]) + " x 0.6", dim);
  }
  std::printf("\nMean CIEDE2000, 800-pixel result against the full-size one scaled to 800, at 0.9\n");
  for (int i = 1; i < argc; ++i) SmallAgainstFull(argv[i], cv::imread(argv[i], cv::IMREAD_COLOR));

  std::printf("\nFog scene 1080 x 1620: largest brightening of the smooth part, in levels\n");
  const cv::Mat fog = FogScene(1080, 1620);
  for (const float thickness : {0.3f, 0.6f, 0.9f, 1.0f}) {
    std::printf("thickness %.1f  natural %6.1f  classic %6.1f\n", thickness,
                LargestFogBrightening(fog, Dehazed(fog, thickness, Look::kNatural)),
                LargestFogBrightening(fog, Dehazed(fog, thickness, Look::kClassic)));
  }
  return 0;
}
