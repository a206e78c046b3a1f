// A clear scene mixed with grey airlight by a known transmission: dehazing brings it
// measurably closer to the clear scene than the hazy input was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include <opencv2/core.hpp>

#include "imagedehaze/dehaze.h"

namespace vantorel {
namespace {

// Coloured blocks with texture, each colour dark in one channel as outdoor scenes mostly
// are (shadows, saturated foliage): a scene with contrast for the haze to hide.
cv::Mat ClearScene(int rows, int cols) {
  cv::Mat scene(rows, cols, CV_32FC3);
  cv::RNG rng(3);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) {
      const int block = (x / 40 + 3 * (y / 40)) % 6;
      const cv::Vec3f colours[6] = {{0.05f, 0.3f, 0.6f}, {0.5f, 0.2f, 0.04f}, {0.03f, 0.6f, 0.2f},
                                    {0.7f, 0.6f, 0.05f}, {0.3f, 0.05f, 0.4f}, {0.05f, 0.4f, 0.5f}};
      cv::Vec3f p = colours[block];
      for (int k = 0; k < 3; ++k) p[k] += static_cast<float>(rng.uniform(0.0, 0.04));
      scene.at<cv::Vec3f>(y, x) = p;
    }
  }
  return scene;
}

// Haze thickens toward the top of the picture, as with distance in a landscape.
cv::Mat AddHaze(const cv::Mat& clear, float airlight) {
  cv::Mat hazy(clear.size(), CV_8UC3);
  for (int y = 0; y < clear.rows; ++y) {
    const float t = 0.35f + 0.45f * static_cast<float>(y) / static_cast<float>(clear.rows);
    for (int x = 0; x < clear.cols; ++x) {
      for (int k = 0; k < 3; ++k) {
        const float v = clear.at<cv::Vec3f>(y, x)[k] * t + airlight * (1.0f - t);
        hazy.at<cv::Vec3b>(y, x)[k] = cv::saturate_cast<uchar>(v * 255.0f);
      }
    }
  }
  return hazy;
}

// Pearson correlation with the clear scene, averaged over the channels: how well the
// picture's light and dark follow the scene's, whatever its overall brightness and
// contrast. The tone adjustment changes those on purpose, so an error in absolute values
// would measure it rather than the haze removal.
double CorrelationWithClear(const cv::Mat& bytes, const cv::Mat& clear) {
  cv::Mat picture;
  bytes.convertTo(picture, CV_64FC3, 1.0 / 255.0);
  cv::Mat scene;
  clear.convertTo(scene, CV_64FC3);
  std::vector<cv::Mat> a, b;
  cv::split(picture, a);
  cv::split(scene, b);
  double sum = 0.0;
  for (int k = 0; k < 3; ++k) {
    cv::Scalar ma, sa, mb, sb;
    cv::meanStdDev(a[k], ma, sa);
    cv::meanStdDev(b[k], mb, sb);
    const double covariance = cv::mean((a[k] - ma[0]).mul(b[k] - mb[0]))[0];
    sum += covariance / (sa[0] * sb[0]);
  }
  return sum / 3.0;
}

TEST(SyntheticHaze, DehazingBringsThePictureCloserToTheClearScene) {
  const cv::Mat clear = ClearScene(240, 320);
  const cv::Mat hazy = AddHaze(clear, 0.85f);
  cv::Mat dehazed = hazy.clone();
  ASSERT_TRUE(DehazeCPU(dehazed.data, dehazed.cols, dehazed.rows, 1.0f));
  const double before = CorrelationWithClear(hazy, clear);
  const double after = CorrelationWithClear(dehazed, clear);
  std::printf("correlation with the clear scene: hazy %.4f, dehazed %.4f\n", before, after);
  EXPECT_GT(after, before + 0.05);

  // Contrast comes back: the spread of the dehazed picture is larger than the hazy one's.
  cv::Scalar mean_hazy, dev_hazy, mean_out, dev_out;
  cv::meanStdDev(hazy, mean_hazy, dev_hazy);
  cv::meanStdDev(dehazed, mean_out, dev_out);
  for (int k = 0; k < 3; ++k) EXPECT_GT(dev_out[k], dev_hazy[k] * 1.2) << "channel " << k;
}

}  // namespace
}  // namespace vantorel
