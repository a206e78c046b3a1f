// The size a PNG or JPEG header declares, read without decoding.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "dehazefile/image_header.h"

namespace vantorel {
namespace {

std::vector<unsigned char> Encoded(const std::string& ext, int cols, int rows, std::vector<int> params = {}) {
  cv::Mat picture(rows, cols, CV_8UC3, cv::Scalar(10, 200, 90));
  std::vector<unsigned char> bytes;
  EXPECT_TRUE(cv::imencode(ext, picture, bytes, params));
  return bytes;
}

void ExpectSize(const std::vector<unsigned char>& bytes, uint64_t cols, uint64_t rows) {
  DeclaredSize declared;
  ASSERT_TRUE(ReadDeclaredSize(bytes.data(), bytes.size(), declared));
  EXPECT_EQ(declared.cols, cols);
  EXPECT_EQ(declared.rows, rows);
}

TEST(ImageHeader, ReadsTheSizeOfPngAndBaselineAndProgressiveJpeg) {
  ExpectSize(Encoded(".png", 37, 23), 37, 23);
  ExpectSize(Encoded(".jpg", 37, 23), 37, 23);
  ExpectSize(Encoded(".jpg", 1, 500, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}), 1, 500);
}

TEST(ImageHeader, TellsA16BitPngFromAn8BitOne) {
  std::vector<unsigned char> deep_png;
  ASSERT_TRUE(cv::imencode(".png", cv::Mat(5, 9, CV_16UC3, cv::Scalar(1000, 2, 65535)), deep_png));
  DeclaredSize declared;
  ASSERT_TRUE(ReadDeclaredSize(deep_png.data(), deep_png.size(), declared));
  EXPECT_TRUE(declared.deep);
  EXPECT_EQ(declared.cols, 9u);
  for (const std::string ext : {".png", ".jpg"}) {
    const std::vector<unsigned char> bytes = Encoded(ext, 9, 5);
    ASSERT_TRUE(ReadDeclaredSize(bytes.data(), bytes.size(), declared));
    EXPECT_FALSE(declared.deep) << ext;
  }
}

TEST(ImageHeader, SkipsLargeSegmentsAndFillBytesBeforeTheFrame) {
  std::vector<unsigned char> jpeg = Encoded(".jpg", 64, 48);
  // After SOI: an APP1 segment of 60000 bytes, then two 0xFF fill bytes before the next marker.
  std::vector<unsigned char> app1 = {0xFF, 0xE1, 0xEA, 0x60};
  app1.resize(60000 + 2, 0x00);
  app1.push_back(0xFF);
  app1.push_back(0xFF);
  jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
  ExpectSize(jpeg, 64, 48);
}

TEST(ImageHeader, EveryTruncationGivesTheTrueSizeOrNothing) {
  for (const std::string ext : {".png", ".jpg"}) {
    const std::vector<unsigned char> whole = Encoded(ext, 19, 7);
    for (size_t length = 0; length <= whole.size(); ++length) {
      // An exact-size copy, so that a read past the end is caught by the sanitizers.
      const std::vector<unsigned char> prefix(whole.begin(), whole.begin() + length);
      DeclaredSize declared;
      if (ReadDeclaredSize(prefix.data(), prefix.size(), declared)) {
        EXPECT_EQ(declared.cols, 19u) << ext << " " << length;
        EXPECT_EQ(declared.rows, 7u) << ext << " " << length;
      }
    }
  }
}

TEST(ImageHeader, HugeDeclaredPngSizeIsReportedAsDeclared) {
  std::vector<unsigned char> png = Encoded(".png", 2, 2);
  // IHDR's width and height, big-endian, at bytes 16 and 20: 100000 = 0x000186A0.
  const unsigned char size[4] = {0x00, 0x01, 0x86, 0xA0};
  std::copy(size, size + 4, png.begin() + 16);
  std::copy(size, size + 4, png.begin() + 20);
  ExpectSize(png, 100000, 100000);
}

TEST(ImageHeader, OtherFormatsAndJunkAreUnknown) {
  DeclaredSize declared;
  const std::string text = "not a picture at all";
  EXPECT_FALSE(ReadDeclaredSize(reinterpret_cast<const unsigned char*>(text.data()), text.size(), declared));
  EXPECT_FALSE(ReadDeclaredSize(nullptr, 0, declared));
  const std::vector<unsigned char> bmp = Encoded(".bmp", 5, 5);
  EXPECT_FALSE(ReadDeclaredSize(bmp.data(), bmp.size(), declared));
  // A JPEG that reaches its scan data before any frame header.
  const std::vector<unsigned char> scan_first = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08, 1, 2, 3, 4, 5, 6};
  EXPECT_FALSE(ReadDeclaredSize(scan_first.data(), scan_first.size(), declared));
  // A frame whose height is left to a later DNL marker.
  const std::vector<unsigned char> no_height = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 8, 0, 0, 0, 16, 1, 1, 0x11, 0};
  EXPECT_FALSE(ReadDeclaredSize(no_height.data(), no_height.size(), declared));
  EXPECT_EQ(declared.cols, 0u);
  EXPECT_EQ(declared.rows, 0u);
}

TEST(ImageHeader, ReadsFilesAndRefusesMissingOnes) {
  const std::vector<unsigned char> jpeg = Encoded(".jpg", 33, 44);
  const std::string path = testing::TempDir() + "image_header_test.jpg";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(jpeg.data(), 1, jpeg.size(), file), jpeg.size());
  std::fclose(file);
  DeclaredSize declared;
  ASSERT_TRUE(ReadDeclaredSizeOfFile(path, declared));
  EXPECT_EQ(declared.cols, 33u);
  EXPECT_EQ(declared.rows, 44u);
  std::remove(path.c_str());
  EXPECT_FALSE(ReadDeclaredSizeOfFile(path, declared));
  EXPECT_FALSE(ReadDeclaredSizeOfFile(testing::TempDir(), declared));
}

}  // namespace
}  // namespace vantorel
