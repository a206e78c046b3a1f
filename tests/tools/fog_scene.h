// A synthetic fog picture and the measure of how much a dehazer brightens its fog: the
// glow that a smooth gradient must not turn into.
#pragma once

#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace vantorel {

// Rows of the fog scene's smooth part: everything above the band of trees.
inline int FogSceneSmoothRows(int rows) { return rows * 4 / 5; }

// Bluish fog over a lake: a smooth vertical gradient, brighter toward the horizon, with a
// broad brighter patch in the middle, above a dark band of trees with leafy texture at
// the bottom fifth; small noise everywhere.
inline cv::Mat FogScene(int rows, int cols) {
  cv::Mat scene(rows, cols, CV_8UC3);
  cv::RNG rng(2024);
  const int tree_top = FogSceneSmoothRows(rows);
  const double cx = 0.5 * cols, cy = 0.4 * rows, radius = 0.3 * std::min(rows, cols);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) {
      double bgr[3];
      if (y < tree_top) {
        const double height = static_cast<double>(y) / tree_top;  // 0 at the top, 1 at the horizon
        const double d2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (radius * radius);
        const double level = 120.0 + 45.0 * height + 30.0 * std::exp(-d2);
        bgr[0] = level + 12.0;
        bgr[1] = level + 2.0;
        bgr[2] = level - 8.0;
      } else {
        const double leaf = ((x / 3 + y / 5) % 4) * 9.0 + rng.uniform(0.0, 18.0);
        bgr[0] = 38.0 + leaf;
        bgr[1] = 52.0 + leaf;
        bgr[2] = 34.0 + leaf;
      }
      cv::Vec3b& p = scene.at<cv::Vec3b>(y, x);
      for (int k = 0; k < 3; ++k) p[k] = cv::saturate_cast<uchar>(bgr[k] + rng.gaussian(1.5));
    }
  }
  return scene;
}

// The largest brightening, in levels of luma, of the smooth part of the fog scene from
// `before` to `after`: both lumas are blurred with a Gaussian of a tenth of the shorter
// side first, so that only broad changes count; the rows near the trees are left out,
// where the blur mixes them in.
inline double LargestFogBrightening(const cv::Mat& before, const cv::Mat& after) {
  const double sigma = 0.1 * std::min(before.rows, before.cols);
  cv::Mat luma_before, luma_after;
  cv::cvtColor(before, luma_before, cv::COLOR_BGR2GRAY);
  cv::cvtColor(after, luma_after, cv::COLOR_BGR2GRAY);
  luma_before.convertTo(luma_before, CV_32F);
  luma_after.convertTo(luma_after, CV_32F);
  cv::GaussianBlur(luma_before, luma_before, cv::Size(0, 0), sigma, sigma, cv::BORDER_REPLICATE);
  cv::GaussianBlur(luma_after, luma_after, cv::Size(0, 0), sigma, sigma, cv::BORDER_REPLICATE);
  const int smooth_rows = FogSceneSmoothRows(before.rows) - static_cast<int>(3.0 * sigma);
  cv::Mat difference = luma_after.rowRange(0, smooth_rows) - luma_before.rowRange(0, smooth_rows);
  double largest = 0.0;
  cv::minMaxLoc(difference, nullptr, &largest);
  return largest;
}

}  // namespace vantorel
