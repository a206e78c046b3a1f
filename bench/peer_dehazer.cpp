// The textbook dark-channel-prior method: 15 x 15 dark channel, airlight from the haziest
// 0.1% of pixels, transmission refined by a guided filter on the grey picture.
#include "peer_dehazer.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace vantorel {
namespace {

constexpr int kPatch = 15;
constexpr double kBrightestFraction = 0.001;
constexpr double kHazeKept = 0.95;  // omega: a little haze keeps distant things looking far
constexpr int kGuidedRadius = 60;
constexpr double kGuidedEps = 1e-3;
constexpr double kMinTransmission = 0.1;

// Per-pixel minimum over the three channels, then a minimum over the patch around it.
cv::Mat DarkChannel(const cv::Mat& bgr) {
  cv::Mat channels[3];
  cv::split(bgr, channels);
  cv::Mat dark = cv::min(cv::min(channels[0], channels[1]), channels[2]);
  cv::erode(dark, dark, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(kPatch, kPatch)));
  return dark;
}

// Mean colour of the pixels whose dark channel is among the brightest fraction.
cv::Vec3f Airlight(const cv::Mat& bgr, const cv::Mat& dark) {
  const int total = static_cast<int>(dark.total());
  const int count = std::max(1, static_cast<int>(total * kBrightestFraction));
  const cv::Mat dark_flat = dark.isContinuous() ? dark : dark.clone();
  const float* d = dark_flat.ptr<float>();
  std::vector<int> order(total);
  std::iota(order.begin(), order.end(), 0);
  std::nth_element(order.begin(), order.begin() + (count - 1), order.end(),
                   [d](int a, int b) { return d[a] > d[b]; });
  const int cols = bgr.cols;
  cv::Vec3d sum(0, 0, 0);
  for (int i = 0; i < count; ++i) {
    const cv::Vec3f& p = bgr.at<cv::Vec3f>(order[i] / cols, order[i] % cols);
    sum += cv::Vec3d(p[0], p[1], p[2]);
  }
  return cv::Vec3f(static_cast<float>(sum[0] / count), static_cast<float>(sum[1] / count),
                   static_cast<float>(sum[2] / count));
}

cv::Mat Box(const cv::Mat& m) {
  cv::Mat out;
  const int side = 2 * kGuidedRadius + 1;
  cv::boxFilter(m, out, CV_32F, cv::Size(side, side));
  return out;
}

// He et al.'s guided filter with one grey guide: a local linear model of p in the guide.
cv::Mat GuidedFilter(const cv::Mat& guide, const cv::Mat& p) {
  const cv::Mat mean_i = Box(guide);
  const cv::Mat mean_p = Box(p);
  const cv::Mat corr_i = Box(guide.mul(guide));
  const cv::Mat corr_ip = Box(guide.mul(p));
  const cv::Mat var_i = corr_i - mean_i.mul(mean_i);
  const cv::Mat cov_ip = corr_ip - mean_i.mul(mean_p);
  const cv::Mat a = cov_ip / (var_i + kGuidedEps);
  const cv::Mat b = mean_p - a.mul(mean_i);
  return Box(a).mul(guide) + Box(b);
}

}  // namespace

cv::Mat PeerDehaze(const cv::Mat& bgr8) {
  CV_Assert(bgr8.type() == CV_8UC3 && !bgr8.empty());
  cv::Mat image;
  bgr8.convertTo(image, CV_32FC3, 1.0 / 255.0);

  cv::Vec3f airlight = Airlight(image, DarkChannel(image));
  for (int k = 0; k < 3; ++k) airlight[k] = std::max(airlight[k], 1e-3f);  // a black picture
  const cv::Scalar a(airlight[0], airlight[1], airlight[2]);

  cv::Mat scaled;
  cv::divide(image, a, scaled);
  const cv::Mat raw_transmission = 1.0 - kHazeKept * DarkChannel(scaled);

  cv::Mat grey;
  cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
  cv::Mat transmission = cv::max(GuidedFilter(grey, raw_transmission), kMinTransmission);

  cv::Mat transmission3;
  cv::merge(std::vector<cv::Mat>{transmission, transmission, transmission}, transmission3);
  const cv::Mat radiance = (image - a) / transmission3 + a;

  // convertTo saturates, which is the clamp to [0, 1] once scaled to 8 bits.
  cv::Mat out;
  radiance.convertTo(out, CV_8UC3, 255.0);
  return out;
}

}  // namespace vantorel
