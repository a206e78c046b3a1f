// The recovery restores in place a picture handed over as its last reference, and in a
// copy otherwise: a caller's picture never changes, and the result is the same either way.
#include <gtest/gtest.h>

#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "imagedehaze/recover_radiance.h"
#include "test_pictures.h"

namespace vantorel {
namespace {

TEST(RecoverRadiance, SharedPictureUnchangedAndSameResultAsAHandedOverOne) {
  const cv::Mat bgr = RandomImage(37, 53, CV_32FC3, 12);
  cv::Mat ycrcb;
  cv::cvtColor(bgr, ycrcb, cv::COLOR_BGR2YCrCb);
  const cv::Mat transmission = RandomImage(37, 53, CV_32FC1, 13);
  const cv::Vec3f airlight(0.8f, 0.85f, 0.9f);
  const cv::Mat kept = ycrcb.clone();

  const cv::Mat from_shared = RecoverRadianceCPU(ycrcb, airlight, transmission);
  EXPECT_TRUE(SameBytes(ycrcb, kept));
  EXPECT_NE(from_shared.data, ycrcb.data);

  cv::Mat handed = ycrcb.clone();
  const uchar* handed_data = handed.data;
  const cv::Mat from_handed = RecoverRadianceCPU(std::move(handed), airlight, transmission);
  EXPECT_EQ(from_handed.data, handed_data);
  EXPECT_TRUE(SameBytes(from_handed, from_shared));
}

}  // namespace
}  // namespace vantorel
