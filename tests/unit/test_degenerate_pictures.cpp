// Pictures without a bright set (uniform, or one channel at 0 in every pixel) go through
// the whole pipeline and every stage without producing a NaN.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "imagedehaze/airlight.h"
#include "imagedehaze/dehaze.h"
#include "imagedehaze/normalize.h"
#include "imagedehaze/transmission.h"
#include "imagedehaze/transmission_steps.h"

namespace vantorel {
namespace {

constexpr int kCols = 21;
constexpr int kRows = 13;

std::vector<unsigned char> UniformPicture(unsigned char b, unsigned char g, unsigned char r) {
  std::vector<unsigned char> bytes(static_cast<size_t>(kCols) * kRows * 3);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    bytes[i] = b;
    bytes[i + 1] = g;
    bytes[i + 2] = r;
  }
  return bytes;
}

// Every pixel has a channel at 0; the channel varies across the picture, and on the left
// half it is always blue, so the blue mean of the left columns is 0.
std::vector<unsigned char> OneChannelAtZero() {
  std::vector<unsigned char> bytes(static_cast<size_t>(kCols) * kRows * 3);
  for (int i = 0; i < kCols * kRows; ++i) {
    const int zero = (i % kCols) < kCols / 2 ? 0 : i % 3;
    for (int c = 0; c < 3; ++c) bytes[3 * i + c] = c == zero ? 0 : static_cast<unsigned char>(60 + (i * 7 + c * 50) % 190);
  }
  return bytes;
}

// Blue is 0 everywhere and the mean colour is too weakly saturated for the desaturation to
// lift it, so the airlight's blue is the fallback's floor.
std::vector<unsigned char> BlueAtZeroEverywhere() {
  std::vector<unsigned char> bytes(static_cast<size_t>(kCols) * kRows * 3);
  for (int i = 0; i < kCols * kRows; ++i) {
    bytes[3 * i] = 0;
    bytes[3 * i + 1] = static_cast<unsigned char>(60 + i % 20);
    bytes[3 * i + 2] = static_cast<unsigned char>(100 + i % 20);
  }
  bytes[2] = 255;
  return bytes;
}

// Runs the stages as the pipeline does and checks each output for NaN.
void ExpectStagesFinite(std::vector<unsigned char> bytes) {
  const cv::Mat source(kRows, kCols, CV_8UC3, bytes.data());
  const cv::Mat normalized = NormalizeByLargestSample(source, LargestSample(source));
  cv::Mat ycrcb;
  cv::cvtColor(normalized, ycrcb, cv::COLOR_BGR2YCrCb, 0);
  cv::Mat y_plane;
  cv::extractChannel(ycrcb, y_plane, 0);

  const cv::Vec3f airlight = EstimateAirlightCPU(normalized);
  for (int c = 0; c < 3; ++c) {
    EXPECT_TRUE(std::isfinite(airlight[c])) << "airlight channel " << c;
    EXPECT_GT(airlight[c], 0.0f) << "airlight channel " << c;
  }
  cv::Mat airlight_ycrcb;
  cv::cvtColor(cv::Mat(1, 1, CV_32FC3, cv::Scalar(airlight[0], airlight[1], airlight[2])), airlight_ycrcb,
               cv::COLOR_BGR2YCrCb, 0);
  EXPECT_TRUE(cv::checkRange(airlight_ycrcb)) << "airlight in YCrCb";

  const cv::Mat dark_channel = DarkChannel(normalized, airlight);
  EXPECT_TRUE(cv::checkRange(dark_channel, true, nullptr, 0.0, 1.0 + 1e-7)) << "dark channel";
  cv::Mat raw_transmission = RawTransmission(dark_channel);
  EXPECT_TRUE(cv::checkRange(raw_transmission, true, nullptr, 0.05, 1.0 + 1e-7)) << "raw transmission";
  const cv::Mat row_profile = DampedRowProfile(RowMeans(raw_transmission));
  EXPECT_TRUE(cv::checkRange(row_profile)) << "row profile";
  LiftTowardRowProfile(raw_transmission, CapRowProfile(row_profile));
  EXPECT_TRUE(cv::checkRange(raw_transmission, true, nullptr, 0.05, 1.0 + 1e-7)) << "lifted";

  for (const float thickness : {1.0f, 0.5f, 0.12f}) {
    const cv::Mat transmission =
        EstimateTransmissionCPU(normalized, airlight, y_plane, TransmissionExponent(thickness));
    EXPECT_TRUE(cv::checkRange(transmission, true, nullptr, 0.05, 1.0 + 1e-6)) << "transmission " << thickness;
  }
}

void ExpectDehazed(std::vector<unsigned char> bytes) {
  const size_t size = bytes.size();
  bytes.resize(size + 16, 0x5A);
  ASSERT_TRUE(DehazeCPU(bytes.data(), kCols, kRows, 0.9f));
  for (size_t i = size; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], 0x5A) << "guard byte " << i - size;
}

TEST(DegeneratePictures, UniformPictureRunsCleanly) {
  for (const auto& bytes : {UniformPicture(100, 150, 200), UniformPicture(90, 90, 90), UniformPicture(0, 0, 255)}) {
    ExpectStagesFinite(bytes);
    std::vector<unsigned char> result = bytes;
    ExpectDehazed(result);
  }
}

TEST(DegeneratePictures, OneChannelAtZeroInEveryPixelRunsCleanly) {
  ExpectStagesFinite(OneChannelAtZero());
  ExpectDehazed(OneChannelAtZero());
}

TEST(DegeneratePictures, ChannelAtZeroEverywhereRunsCleanlyAndGivesFullTransmission) {
  ExpectStagesFinite(BlueAtZeroEverywhere());
  ExpectDehazed(BlueAtZeroEverywhere());

  std::vector<unsigned char> bytes = BlueAtZeroEverywhere();
  const cv::Mat source(kRows, kCols, CV_8UC3, bytes.data());
  const cv::Mat normalized = NormalizeByLargestSample(source, LargestSample(source));
  const cv::Vec3f airlight = EstimateAirlightCPU(normalized);
  EXPECT_LT(airlight[0], 0.01f);  // the floor, not a blue that the picture does not have
  const cv::Mat dark = DarkChannel(normalized, airlight);
  EXPECT_EQ(cv::countNonZero(dark), 0);
}

}  // namespace
}  // namespace vantorel
