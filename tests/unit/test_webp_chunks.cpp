// Adding a colour profile to an encoded WebP file.
#include "dehazefile/webp_chunks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

namespace vantorel {
namespace {

uint32_t Le32(const std::vector<unsigned char>& b, size_t at) {
  return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) | (uint32_t{b[at + 3]} << 24);
}
uint32_t Le24(const std::vector<unsigned char>& b, size_t at) {
  return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16);
}
std::string Name(const std::vector<unsigned char>& b, size_t at) {
  return std::string(reinterpret_cast<const char*>(&b[at]), 4);
}

// A gradient, so that the codec has something to encode.
cv::Mat Picture(int channels) {
  cv::Mat img(20, 30, CV_8UC(channels));
  for (int y = 0; y < img.rows; ++y)
    for (int x = 0; x < img.cols * channels; ++x) img.ptr<uchar>(y)[x] = static_cast<uchar>(7 * x + 11 * y);
  return img;
}

std::vector<unsigned char> Encode(const cv::Mat& img, int quality) {
  std::vector<unsigned char> bytes;
  EXPECT_TRUE(cv::imencode(".webp", img, bytes, {cv::IMWRITE_WEBP_QUALITY, quality}));
  return bytes;
}

const std::vector<unsigned char> kProfile = {1, 2, 3, 4, 5, 6, 7};  // odd: the chunk is padded

// Checks the layout RIFF, VP8X (with `flags`, 30 x 20), ICCP (`profile`), then `next`.
void ExpectExtendedWithProfile(const std::vector<unsigned char>& webp, unsigned char flags,
                               const std::vector<unsigned char>& profile, const std::string& next) {
  ASSERT_GT(webp.size(), 30 + 8 + profile.size());
  EXPECT_EQ(Le32(webp, 4), webp.size() - 8);
  EXPECT_EQ(Name(webp, 12), "VP8X");
  EXPECT_EQ(Le32(webp, 16), 10u);
  EXPECT_EQ(webp[20], flags);
  EXPECT_EQ(Le24(webp, 24) + 1, 30u);
  EXPECT_EQ(Le24(webp, 27) + 1, 20u);
  EXPECT_EQ(Name(webp, 30), "ICCP");
  ASSERT_EQ(Le32(webp, 34), profile.size());
  EXPECT_EQ(std::vector<unsigned char>(webp.begin() + 38, webp.begin() + 38 + static_cast<long>(profile.size())), profile);
  EXPECT_EQ(Name(webp, 38 + profile.size() + (profile.size() & 1)), next);
}

TEST(WebPIccProfile, TurnsSimpleFilesExtendedAndKeepsThePixels) {
  for (const int quality : {101, 80}) {  // above 100: lossless (VP8L); else lossy (VP8)
    const std::vector<unsigned char> simple = Encode(Picture(3), quality);
    const std::string bitstream = quality > 100 ? "VP8L" : "VP8 ";
    ASSERT_EQ(Name(simple, 12), bitstream);
    std::vector<unsigned char> webp = simple;
    ASSERT_TRUE(SetWebPIccProfile(webp, kProfile, 30, 20));
    ExpectExtendedWithProfile(webp, 0x20, kProfile, bitstream);
    const cv::Mat before = cv::imdecode(simple, cv::IMREAD_UNCHANGED), after = cv::imdecode(webp, cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(after.empty()) << bitstream;
    EXPECT_EQ(cv::norm(before, after, cv::NORM_INF), 0.0) << bitstream;
  }
}

TEST(WebPIccProfile, SaysSoWhenTheLosslessPictureHasAlpha) {
  std::vector<unsigned char> webp = Encode(Picture(4), 101);
  ASSERT_TRUE(SetWebPIccProfile(webp, kProfile, 30, 20));
  ExpectExtendedWithProfile(webp, 0x30, kProfile, "VP8L");
  EXPECT_EQ(cv::imdecode(webp, cv::IMREAD_UNCHANGED).channels(), 4);
}

TEST(WebPIccProfile, ReplacesAProfileAlreadyThere) {
  std::vector<unsigned char> webp = Encode(Picture(3), 101);
  ASSERT_TRUE(SetWebPIccProfile(webp, kProfile, 30, 20));
  const std::vector<unsigned char> second = {9, 8, 7, 6};
  ASSERT_TRUE(SetWebPIccProfile(webp, second, 30, 20));
  ExpectExtendedWithProfile(webp, 0x20, second, "VP8L");
  EXPECT_EQ(webp.size(), Encode(Picture(3), 101).size() + 18 + 8 + second.size());
}

TEST(WebPIccProfile, LeavesOtherBytesAlone) {
  const std::vector<unsigned char> good = Encode(Picture(3), 101);
  std::vector<std::vector<unsigned char>> bad = {
      {},
      std::vector<unsigned char>(good.begin(), good.end() - 1),  // RIFF size no longer matches
      std::vector<unsigned char>(good.begin(), good.begin() + 12),  // no chunk at all
  };
  std::vector<unsigned char> not_webp = good;
  not_webp[8] = 'X';  // "WEBP" -> "XEBP"
  bad.push_back(not_webp);
  std::vector<unsigned char> chunk_too_long = good;
  chunk_too_long[16] = 0xff;  // the bitstream's size runs past the end
  chunk_too_long[17] = 0xff;
  bad.push_back(chunk_too_long);
  for (std::vector<unsigned char> bytes : bad) {
    const std::vector<unsigned char> before = bytes;
    EXPECT_FALSE(SetWebPIccProfile(bytes, kProfile, 30, 20));
    EXPECT_EQ(bytes, before);
  }
  std::vector<unsigned char> bytes = good;
  EXPECT_FALSE(SetWebPIccProfile(bytes, {}, 30, 20));
  EXPECT_FALSE(SetWebPIccProfile(bytes, kProfile, 0, 20));
  EXPECT_FALSE(SetWebPIccProfile(bytes, kProfile, 30, (1 << 24) + 1));
  EXPECT_EQ(bytes, good);
}

}  // namespace
}  // namespace vantorel
