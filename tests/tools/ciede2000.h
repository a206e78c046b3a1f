// The CIEDE2000 colour difference (Sharma, Wu and Dalal's formulation), in double
// precision, for the look tests: how far a result's colours moved from its input's.
#pragma once

#include <cmath>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace vantorel {

inline double Ciede2000(const cv::Vec3d& lab1, const cv::Vec3d& lab2) {
  constexpr double kPi = 3.14159265358979323846;
  const auto degrees = [&](double radians) { return radians * 180.0 / kPi; };
  const auto radians = [&](double deg) { return deg * kPi / 180.0; };
  const double l1 = lab1[0], a1 = lab1[1], b1 = lab1[2];
  const double l2 = lab2[0], a2 = lab2[1], b2 = lab2[2];

  const double c_mean = (std::hypot(a1, b1) + std::hypot(a2, b2)) / 2.0;
  const double c7 = std::pow(c_mean, 7.0);
  const double g = 0.5 * (1.0 - std::sqrt(c7 / (c7 + std::pow(25.0, 7.0))));
  const double a1p = (1.0 + g) * a1, a2p = (1.0 + g) * a2;
  const double c1p = std::hypot(a1p, b1), c2p = std::hypot(a2p, b2);
  const auto hue = [&](double a, double b) {
    if (a == 0.0 && b == 0.0) return 0.0;
    const double h = degrees(std::atan2(b, a));
    return h < 0.0 ? h + 360.0 : h;
  };
  const double h1p = hue(a1p, b1), h2p = hue(a2p, b2);

  const double dl = l2 - l1;
  const double dc = c2p - c1p;
  double dh = 0.0;
  if (c1p * c2p != 0.0) {
    dh = h2p - h1p;
    if (dh > 180.0) dh -= 360.0;
    if (dh < -180.0) dh += 360.0;
  }
  const double dhh = 2.0 * std::sqrt(c1p * c2p) * std::sin(radians(dh / 2.0));

  const double l_mean = (l1 + l2) / 2.0;
  const double cp_mean = (c1p + c2p) / 2.0;
  double hp_mean = h1p + h2p;
  if (c1p * c2p != 0.0) {
    if (std::fabs(h1p - h2p) <= 180.0) {
      hp_mean /= 2.0;
    } else {
      hp_mean = (h1p + h2p < 360.0) ? (h1p + h2p + 360.0) / 2.0 : (h1p + h2p - 360.0) / 2.0;
    }
  }
  const double t = 1.0 - 0.17 * std::cos(radians(hp_mean - 30.0)) + 0.24 * std::cos(radians(2.0 * hp_mean)) +
                   0.32 * std::cos(radians(3.0 * hp_mean + 6.0)) - 0.20 * std::cos(radians(4.0 * hp_mean - 63.0));
  const double d_theta = 30.0 * std::exp(-std::pow((hp_mean - 275.0) / 25.0, 2.0));
  const double cp7 = std::pow(cp_mean, 7.0);
  const double rc = 2.0 * std::sqrt(cp7 / (cp7 + std::pow(25.0, 7.0)));
  const double sl = 1.0 + 0.015 * std::pow(l_mean - 50.0, 2.0) / std::sqrt(20.0 + std::pow(l_mean - 50.0, 2.0));
  const double sc = 1.0 + 0.045 * cp_mean;
  const double sh = 1.0 + 0.015 * cp_mean * t;
  const double rt = -std::sin(radians(2.0 * d_theta)) * rc;
  return std::sqrt(std::pow(dl / sl, 2.0) + std::pow(dc / sc, 2.0) + std::pow(dhh / sh, 2.0) +
                   rt * (dc / sc) * (dhh / sh));
}

// The mean CIEDE2000 difference between two 8-bit BGR pictures of the same size (sRGB).
inline double MeanCiede2000(const cv::Mat& bgr1, const cv::Mat& bgr2) {
  cv::Mat f1, f2, lab1, lab2;
  bgr1.convertTo(f1, CV_32F, 1.0 / 255.0);
  bgr2.convertTo(f2, CV_32F, 1.0 / 255.0);
  cv::cvtColor(f1, lab1, cv::COLOR_BGR2Lab);
  cv::cvtColor(f2, lab2, cv::COLOR_BGR2Lab);
  double sum = 0.0;
  for (int y = 0; y < lab1.rows; ++y) {
    for (int x = 0; x < lab1.cols; ++x) {
      sum += Ciede2000(lab1.at<cv::Vec3f>(y, x), lab2.at<cv::Vec3f>(y, x));
    }
  }
  return sum / static_cast<double>(lab1.total());
}

}  // namespace vantorel
