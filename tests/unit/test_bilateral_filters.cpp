// The filter adapters: channel independence, in-place use, output buffers, byte round trips.
#include <gtest/gtest.h>

#include <cstring>

#include <opencv2/core.hpp>

#include "filters/bilateral_filters.h"
#include "test_pictures.h"

namespace vantorel {
namespace {

cv::Mat Channel(const cv::Mat& image, int k) {
  cv::Mat plane;
  cv::extractChannel(image, plane, k);
  return plane;
}

TEST(JointBilateral, ConstantSourceStaysConstantWhateverTheGuide) {
  const cv::Mat source(19, 23, CV_32FC1, cv::Scalar(0.42));
  const cv::Mat guide = RandomImage(19, 23, CV_32FC1, 3);
  cv::Mat output;
  JointBilateralCPU(source, guide, output, 5.0, 0.1);
  ASSERT_EQ(output.type(), CV_32FC1);
  double lo = 0, hi = 0;
  cv::minMaxLoc(output, &lo, &hi);
  EXPECT_NEAR(lo, 0.42f, 0.42 * 2.5e-7);
  EXPECT_NEAR(hi, 0.42f, 0.42 * 2.5e-7);
}

TEST(JointBilateral, OutputMayBeTheSourceOrTheGuide) {
  const cv::Mat source = RandomImage(17, 21, CV_32FC1, 4);
  const cv::Mat guide = RandomImage(17, 21, CV_32FC1, 5);
  cv::Mat separate;
  JointBilateralCPU(source, guide, separate, 3.0, 0.1);

  cv::Mat in_source = source.clone();
  JointBilateralCPU(in_source, guide, in_source, 3.0, 0.1);
  EXPECT_TRUE(SameBytes(in_source, separate));

  cv::Mat in_guide = guide.clone();
  JointBilateralCPU(source, in_guide, in_guide, 3.0, 0.1);
  EXPECT_TRUE(SameBytes(in_guide, separate));
}

// A three-channel guide is read by its first channel only; the luma channel of a picture
// guides as its own plane would, and smoothing it by itself is the channel filter.
TEST(JointBilateral, ThreeChannelGuideIsItsFirstChannel) {
  const cv::Mat source = RandomImage(23, 31, CV_32FC1, 8);
  const cv::Mat picture = RandomImage(23, 31, CV_32FC3, 9);
  cv::Mat from_picture, from_plane;
  JointBilateralCPU(source, picture, from_picture, 4.0, 0.1);
  JointBilateralCPU(source, Channel(picture, 0), from_plane, 4.0, 0.1);
  EXPECT_TRUE(SameBytes(from_picture, from_plane));

  cv::Mat luma_joint, luma_channel;
  const cv::Mat luma = Channel(picture, 0);
  JointBilateralCPU(luma, luma, luma_joint, 4.0, 0.1);
  BilateralChannelCPU(picture, 0, luma_channel, 4.0, 0.1);
  EXPECT_TRUE(SameBytes(luma_joint, luma_channel));
  EXPECT_FALSE(SameBytes(luma_joint, luma));  // the filter did smooth
}

TEST(JointBilateral, PreparedOutputKeepsItsBuffer) {
  const cv::Mat source = RandomImage(9, 11, CV_32FC1, 6);
  cv::Mat output(9, 11, CV_32FC1, cv::Scalar(-1));
  const uchar* buffer = output.data;
  JointBilateralCPU(source, source, output, 2.0, 0.1);
  EXPECT_EQ(output.data, buffer);
  double lo = 0;
  cv::minMaxLoc(output, &lo);
  EXPECT_GE(lo, 0.0);
}

// Channel k smoothed by itself: the other channels play no part.
TEST(BilateralChannel, EachChannelIsFilteredAlone) {
  const cv::Mat source = RandomImage(15, 18, CV_32FC3, 7);
  cv::Mat changed = source.clone();
  changed.forEach<cv::Vec3f>([](cv::Vec3f& p, const int*) { p[0] = 1.0f - p[0] * p[0]; p[2] = 1.0f - p[2]; });
  for (const int k : {0, 1, 2}) {
    cv::Mat single, plane, changed_plane;
    JointBilateralCPU(Channel(source, k), Channel(source, k), single, 4.0, 0.2);
    BilateralChannelCPU(source, k, plane, 4.0, 0.2);
    BilateralChannelCPU(changed, k, changed_plane, 4.0, 0.2);
    ASSERT_EQ(plane.type(), CV_32FC1);
    EXPECT_TRUE(SameBytes(plane, single)) << k;
    EXPECT_EQ(SameBytes(plane, changed_plane), k == 1) << k;
  }
}

TEST(BilateralChannel, AMatchingPlaneKeepsItsBufferAndTheSourceIsRefused) {
  const cv::Mat source = RandomImage(13, 16, CV_32FC3, 9);
  cv::Mat plane(13, 16, CV_32FC1, cv::Scalar::all(-1.0));
  const uchar* buffer = plane.data;
  BilateralChannelCPU(source, 2, plane, 35.0, 0.2);
  EXPECT_EQ(plane.data, buffer);
  cv::Mat fresh;
  BilateralChannelCPU(source, 2, fresh, 35.0, 0.2);
  EXPECT_TRUE(SameBytes(plane, fresh));
  cv::Mat in_place = source.clone();
  EXPECT_THROW(BilateralChannelCPU(in_place, 2, in_place, 35.0, 0.2), cv::Exception);
}

TEST(Bilateral8UC3, EveryConstantByteSurvivesTheRoundTrip) {
  // One uniform image per byte value, with other values in the other channels.
  for (int b = 0; b < 256; ++b) {
    const cv::Mat source(6, 7, CV_8UC3, cv::Scalar(b, 255 - b, (b * 7) % 256));
    cv::Mat output;
    Bilateral8UC3CPU(source, output, 4.0, 0.02);
    ASSERT_TRUE(SameBytes(source, output)) << "byte " << b;
  }
}

TEST(Bilateral8UC3, OnePixelComesBackUnchanged) {
  const cv::Mat source(1, 1, CV_8UC3, cv::Scalar(3, 128, 254));
  cv::Mat output;
  Bilateral8UC3CPU(source, output, 4.0, 0.02);
  EXPECT_TRUE(SameBytes(source, output));
}

TEST(Bilateral8UC3, InPlaceEqualsOutOfPlaceAndChannelsAreIndependent) {
  const cv::Mat source = RandomImage(21, 26, CV_8UC3, 10);
  cv::Mat separate;
  Bilateral8UC3CPU(source, separate, 4.0, 0.02);
  cv::Mat in_place = source.clone();
  Bilateral8UC3CPU(in_place, in_place, 4.0, 0.02);
  EXPECT_TRUE(SameBytes(in_place, separate));

  cv::Mat changed = source.clone();
  changed.forEach<cv::Vec3b>([](cv::Vec3b& p, const int*) { p[0] = static_cast<uchar>(255 - p[0]); });
  cv::Mat other;
  Bilateral8UC3CPU(changed, other, 4.0, 0.02);
  EXPECT_TRUE(SameBytes(Channel(other, 1), Channel(separate, 1)));
  EXPECT_TRUE(SameBytes(Channel(other, 2), Channel(separate, 2)));
}

TEST(Bilateral8UC3, DestinationIsRecreatedUnlessItMatches) {
  const cv::Mat source = RandomImage(8, 10, CV_8UC3, 11);
  cv::Mat expected;
  Bilateral8UC3CPU(source, expected, 4.0, 0.02);

  cv::Mat matching(8, 10, CV_8UC3, cv::Scalar(1, 2, 3));
  const uchar* buffer = matching.data;
  Bilateral8UC3CPU(source, matching, 4.0, 0.02);
  EXPECT_EQ(matching.data, buffer);
  EXPECT_TRUE(SameBytes(matching, expected));

  for (cv::Mat wrong : {cv::Mat(), cv::Mat(8, 11, CV_8UC3), cv::Mat(8, 10, CV_32FC3),
                        cv::Mat(8, 10, CV_8UC1)}) {
    Bilateral8UC3CPU(source, wrong, 4.0, 0.02);
    EXPECT_TRUE(SameBytes(wrong, expected));
  }
}

}  // namespace
}  // namespace vantorel
