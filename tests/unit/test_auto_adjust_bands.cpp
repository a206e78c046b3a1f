// The tone adjustment runs in parallel bands of rows, in place; it must give the same bits
// as toning and converting the whole pictures at once, whatever the picture's form.
#include <gtest/gtest.h>

#include <cstring>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "band_rows.h"
#include "filters/schedule.h"
#include "imagedehaze/auto_adjust.h"
#include "imagedehaze/tone_apply.h"
#include "imagedehaze/tone_curve.h"

namespace vantorel {
namespace {

cv::Mat WholePictureAdjustment(const cv::Mat& input) {
  cv::Mat luminance(input.rows, input.cols, CV_32FC1);
  for (int y = 0; y < input.rows; ++y) {
    for (int x = 0; x < input.cols; ++x) {
      const cv::Vec3f p = input.at<cv::Vec3f>(y, x);
      luminance.at<float>(y, x) = (p[2] * 0.299f + p[1] * 0.587f) + p[0] * 0.114f;
    }
  }
  const ToneCurve curve = ComputeToneCurve(luminance);
  cv::Mat toned = input.clone();
  ApplyToneTable(curve, toned);
  cv::Mat in_ycrcb, out_ycrcb;
  cv::cvtColor(input, in_ycrcb, cv::COLOR_BGR2YCrCb);
  cv::cvtColor(toned, out_ycrcb, cv::COLOR_BGR2YCrCb);
  for (int y = 0; y < input.rows; ++y) {
    for (int x = 0; x < input.cols; ++x) {
      cv::Vec3f& o = out_ycrcb.at<cv::Vec3f>(y, x);
      const cv::Vec3f& i = in_ycrcb.at<cv::Vec3f>(y, x);
      for (int k = 1; k < 3; ++k) o[k] = static_cast<float>(0.5 * double(i[k]) + 0.5 * double(o[k]));
    }
  }
  cv::cvtColor(out_ycrcb, toned, cv::COLOR_YCrCb2BGR);
  return toned;
}

TEST(AutoAdjustBands, SameBitsAsConvertingWholePictures) {
  // Heights below, at and across the band size; odd widths exercise the conversions' tails.
  const cv::Size sizes[] = {{37, 5}, {101, 64}, {33, 65}, {250, 203}, {1200, 700}};
  uint64_t seed = 11;
  for (const cv::Size size : sizes) {
    cv::Mat picture(size, CV_32FC3);
    cv::RNG(++seed).fill(picture, cv::RNG::UNIFORM, 0.0, 1.0);
    const cv::Mat expected = WholePictureAdjustment(picture);
    // The schedule's bands, bands of one row, of a few rows, and one band for everything.
    for (const int band_rows : {0, 1, 7, 100000}) {
      SetBandRowsForTesting(band_rows);
      cv::Mat toned = picture.clone();
      AutoAdjustCPU(toned);
      ASSERT_EQ(std::memcmp(toned.data, expected.data, expected.total() * expected.elemSize()), 0)
          << size.width << "x" << size.height << ", bands of " << band_rows << " rows";
    }
    SetBandRowsForTesting(0);
  }
}

// Bytes go through a float copy and back; a view into a larger picture is toned through
// a copy too, and nothing outside it changes.
TEST(AutoAdjustBands, BytesAndViewsGiveTheWholePictureResult) {
  cv::Mat bytes(130, 77, CV_8UC3);
  cv::RNG(3).fill(bytes, cv::RNG::UNIFORM, 0, 256);
  cv::Mat floats;
  bytes.convertTo(floats, CV_32F, 0.00392156862745098, 0.0);
  cv::Mat expected_bytes;
  WholePictureAdjustment(floats).convertTo(expected_bytes, CV_8U, 255.0, 0.0);
  AutoAdjustCPU(bytes);
  ASSERT_EQ(std::memcmp(bytes.data, expected_bytes.data, expected_bytes.total() * expected_bytes.elemSize()), 0);

  cv::Mat frame(150, 120, CV_32FC3);
  cv::RNG(4).fill(frame, cv::RNG::UNIFORM, 0.0, 1.0);
  const cv::Mat before = frame.clone();
  cv::Mat view = frame(cv::Rect(10, 20, 90, 100));
  const cv::Mat expected = WholePictureAdjustment(view.clone());
  AutoAdjustCPU(view);
  EXPECT_EQ(cv::norm(view, expected, cv::NORM_INF), 0.0);
  cv::Mat outside = frame.clone();
  before(cv::Rect(10, 20, 90, 100)).copyTo(outside(cv::Rect(10, 20, 90, 100)));
  EXPECT_EQ(cv::norm(outside, before, cv::NORM_INF), 0.0);
}

}  // namespace
}  // namespace vantorel
