// The file layer's rules for deep, transparent and grey pictures: what a source reads as,
// the result's depth, the conversions between depths, and how a result is put together.
#include "dehazefile/picture_parts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "dehazefile/dehaze_file.h"
#include "test_pictures.h"

namespace vantorel {
namespace {

TEST(ResultDepth, TheSourcesWhereTheFormatHoldsItElse8AndAskedDepthsChecked) {
  std::string why;
  EXPECT_EQ(ResultDepth(CV_8U, ".png", 0, why), CV_8U);
  EXPECT_EQ(ResultDepth(CV_16U, ".png", 0, why), CV_16U);
  EXPECT_EQ(ResultDepth(CV_16U, ".tif", 0, why), CV_16U);
  EXPECT_EQ(ResultDepth(CV_16U, ".ppm", 0, why), CV_16U);
  EXPECT_EQ(ResultDepth(CV_16U, ".jpg", 0, why), CV_8U);
  EXPECT_EQ(ResultDepth(CV_16U, ".webp", 0, why), CV_8U);
  EXPECT_EQ(ResultDepth(CV_16U, ".png", 8, why), CV_8U);
  EXPECT_EQ(ResultDepth(CV_8U, "png", 16, why), CV_16U);
  EXPECT_TRUE(why.empty());
  for (const auto& [extension, name] : {std::pair<const char*, const char*>{".jpg", "JPEG"}, {".JPEG", "JPEG"},
                                        {"webp", "WebP"}, {".bmp", "BMP"}}) {
    why.clear();
    EXPECT_EQ(ResultDepth(CV_16U, extension, 16, why), -1) << extension;
    EXPECT_EQ(why, std::string(name) + " cannot hold 16 bits per channel: choose depth 8, or PNG or TIFF");
    EXPECT_EQ(DepthRefusal(extension, 16), why);
    EXPECT_EQ(DepthRefusal(extension, 0), "");
    EXPECT_EQ(DepthRefusal(extension, 8), "");
  }
}

TEST(AtDepth, SixteenBitsRoundToTheNearestByteAndBytesWidenExactly) {
  cv::Mat words(1, 8, CV_16UC1);
  const uint16_t samples[8] = {0, 128, 129, 257, 385, 386, 65406, 65535};
  for (int i = 0; i < 8; ++i) words.at<uint16_t>(0, i) = samples[i];
  const cv::Mat bytes = AtDepth(words, CV_8U);
  const uint8_t expected[8] = {0, 0, 1, 1, 1, 2, 254, 255};  // v / 257: 0.498, 0.502, 1.498, 1.502, 254.498
  for (int i = 0; i < 8; ++i) EXPECT_EQ(bytes.at<uint8_t>(0, i), expected[i]) << samples[i];
  // Every byte widens to b * 257 and comes back.
  cv::Mat all(1, 256, CV_8UC1);
  for (int b = 0; b < 256; ++b) all.at<uint8_t>(0, b) = static_cast<uint8_t>(b);
  const cv::Mat wide = AtDepth(all, CV_16U);
  for (int b = 0; b < 256; ++b) ASSERT_EQ(wide.at<uint16_t>(0, b), b * 257);
  EXPECT_TRUE(SameBytes(AtDepth(wide, CV_8U), all));
  EXPECT_EQ(AtDepth(all, CV_8U).data, all.data);  // already at the depth: the same pixels
}

TEST(AssembleResult, GreyLayoutsAndAlphaAppendedUnchanged) {
  cv::Mat colour(4, 5, CV_16UC3, cv::Scalar(1000, 30000, 65535));
  cv::Mat alpha(4, 5, CV_16UC1);
  for (int i = 0; i < 20; ++i) alpha.at<uint16_t>(i / 5, i % 5) = static_cast<uint16_t>(i * 3000 + 7);

  const cv::Mat plain = AssembleResult(colour, GreyLayout::kNone, cv::Mat(), CV_16U);
  EXPECT_TRUE(SameBytes(plain, colour));

  const cv::Mat with_alpha = AssembleResult(colour, GreyLayout::kNone, alpha, CV_8U);
  ASSERT_EQ(with_alpha.type(), CV_8UC4);
  cv::Mat alpha_back, colour_back;
  cv::extractChannel(with_alpha, alpha_back, 3);
  EXPECT_TRUE(SameBytes(alpha_back, AtDepth(alpha, CV_8U)));
  cv::cvtColor(with_alpha, colour_back, cv::COLOR_BGRA2BGR);
  EXPECT_TRUE(SameBytes(colour_back, AtDepth(colour, CV_8U)));

  cv::Mat grey;
  cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
  EXPECT_TRUE(SameBytes(AssembleResult(colour, GreyLayout::kOneChannel, cv::Mat(), CV_16U), grey));
  const cv::Mat three = AssembleResult(colour, GreyLayout::kThreeChannels, alpha, CV_16U);
  ASSERT_EQ(three.type(), CV_16UC4);
  cv::Mat planes[4];
  cv::split(three, planes);
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(SameBytes(planes[k], grey)) << k;
  EXPECT_TRUE(SameBytes(planes[3], alpha));
}

class SourceLayouts : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vantorel_layouts_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const std::string& path : written_) std::remove(path.c_str());
    rmdir(dir_.c_str());
  }
  std::string Write(const std::string& name, const cv::Mat& picture) {
    const std::string path = dir_ + "/" + name;
    EXPECT_TRUE(cv::imwrite(path, picture)) << name;
    written_.push_back(path);
    return path;
  }
  static std::vector<unsigned char> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  std::string dir_;
  std::vector<std::string> written_;
};

TEST_F(SourceLayouts, EachLayoutReadsAtItsDepthWithItsAlphaTheSameFromFileAndBytes) {
  const cv::Mat colour8 = RandomImage(21, 34, CV_8UC3, 3);
  cv::Mat colour16, grey16, alpha8(21, 34, CV_8UC1), bgra8;
  colour8.convertTo(colour16, CV_16U, 257.0, 5.0);
  cv::cvtColor(colour16, grey16, cv::COLOR_BGR2GRAY);
  cv::randu(alpha8, 0, 256);
  std::vector<cv::Mat> planes;
  cv::split(colour8, planes);
  planes.push_back(alpha8);
  cv::merge(planes, bgra8);

  struct Case {
    std::string name;
    cv::Mat written;
    int pixels_type;
    bool grey, alpha;
  };
  const Case cases[] = {
      {"colour16.png", colour16, CV_16UC3, false, false}, {"colour16.tif", colour16, CV_16UC3, false, false},
      {"colour16.ppm", colour16, CV_16UC3, false, false}, {"grey16.png", grey16, CV_16UC3, true, false},
      {"grey16.pgm", grey16, CV_16UC3, true, false},     {"bgra8.png", bgra8, CV_8UC3, false, true},
      {"bgra8.tif", bgra8, CV_8UC3, false, true},        {"colour8.png", colour8, CV_8UC3, false, false},
  };
  for (const Case& c : cases) {
    const std::string path = Write(c.name, c.written);
    SourcePicture from_file, from_bytes;
    FileError error;
    ASSERT_TRUE(ReadSourceFile(path, from_file, error)) << c.name << ": " << error.message;
    ASSERT_TRUE(ReadSourceBytes(Bytes(path), from_bytes, error, c.name)) << c.name;
    EXPECT_EQ(from_file.pixels.type(), c.pixels_type) << c.name;
    EXPECT_EQ(from_file.grey, c.grey) << c.name;
    EXPECT_EQ(from_file.alpha.empty(), !c.alpha) << c.name;
    EXPECT_TRUE(SameBytes(from_file.pixels, from_bytes.pixels)) << c.name;
    EXPECT_EQ(from_file.grey, from_bytes.grey) << c.name;
    if (c.alpha) {
      EXPECT_TRUE(SameBytes(from_file.alpha, alpha8)) << c.name;
      EXPECT_TRUE(SameBytes(from_bytes.alpha, alpha8)) << c.name;
    }
    // The colour is the written colour, grey in all three channels for a grey source.
    cv::Mat expected = c.written;
    if (expected.channels() == 4) cv::cvtColor(expected, expected, cv::COLOR_BGRA2BGR);
    if (expected.channels() == 1) cv::cvtColor(expected, expected, cv::COLOR_GRAY2BGR);
    EXPECT_TRUE(SameBytes(from_file.pixels, expected)) << c.name;
    EXPECT_EQ(SourceDepthBits(from_file), c.pixels_type == CV_16UC3 ? 16 : 8) << c.name;
  }
}

// An 8-bit colour source is read exactly as before: what cv::IMREAD_COLOR gives.
TEST_F(SourceLayouts, EightBitColourSourcesReadAsTheColourFlagReadsThem) {
  const cv::Mat picture = RandomImage(30, 41, CV_8UC3, 8);
  for (const std::string name : {"a.jpg", "a.png", "a.webp", "a.bmp", "a.tif"}) {
    const std::string path = Write(name, picture);
    SourcePicture source;
    FileError error;
    ASSERT_TRUE(ReadSourceFile(path, source, error)) << name;
    EXPECT_TRUE(SameBytes(source.pixels, cv::imread(path, cv::IMREAD_COLOR))) << name;
    EXPECT_FALSE(source.grey) << name;
    EXPECT_TRUE(source.alpha.empty()) << name;
  }
}

}  // namespace
}  // namespace vantorel
