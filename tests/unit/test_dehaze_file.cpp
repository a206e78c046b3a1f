// The file layer: a source read from bytes gives the same result as from its file, which
// formats results may take, the output options on the written bytes, and the atomic write
// through symbolic links.
#include "dehazefile/dehaze_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <exiv2/exiv2.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "imagedehaze/dehaze.h"
#include "test_pictures.h"

namespace vantorel {
namespace {

std::vector<unsigned char> FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A colour profile exiv2 accepts: its first four bytes give its size.
std::vector<Exiv2::byte> FakeIccProfile() {
  std::vector<Exiv2::byte> icc(200, 0x5a);
  icc[0] = 0, icc[1] = 0, icc[2] = 0, icc[3] = 200;
  return icc;
}

class DehazeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vantorel-dehaze-file-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { ASSERT_EQ(std::system(("rm -rf '" + dir_ + "'").c_str()), 0); }

  // A picture stored sideways (EXIF orientation 6) with EXIF, XMP, IPTC and a profile.
  std::string TaggedSource(const std::string& name) {
    const std::string path = dir_ + "/" + name;
    EXPECT_TRUE(cv::imwrite(path, RandomImage(24, 40, CV_8UC3, 7)));
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    image->exifData()["Exif.Image.Orientation"] = uint16_t{6};
    image->exifData()["Exif.Image.Model"] = "VT-100";
    image->exifData()["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    image->xmpData()["Xmp.xmp.Rating"] = "4";
    image->iptcData()["Iptc.Application2.Caption"] = "hazy";
    const std::vector<Exiv2::byte> icc = FakeIccProfile();
    Exiv2::DataBuf profile(icc.data(), static_cast<long>(icc.size()));
    image->setIccProfile(profile, true);
    image->writeMetadata();
    return path;
  }

  std::string dir_;
};

TEST_F(DehazeFileTest, BytesAndFileGiveTheSameResultBytes) {
  for (const std::string source_name : {"tagged.jpg", "tagged.png", "tagged.webp"}) {
    const std::string path = TaggedSource(source_name);
    SourcePicture from_file, from_bytes;
    FileError error;
    ASSERT_TRUE(ReadSourceFile(path, from_file, error)) << error.message;
    ASSERT_TRUE(ReadSourceBytes(FileBytes(path), from_bytes, error, path)) << error.message;
    ASSERT_TRUE(SameBytes(from_file.pixels, from_bytes.pixels)) << source_name;
    ASSERT_TRUE(DehazeCPU(from_file.pixels.data, from_file.pixels.cols, from_file.pixels.rows, 0.9f));
    ASSERT_TRUE(DehazeCPU(from_bytes.pixels.data, from_bytes.pixels.cols, from_bytes.pixels.rows, 0.9f));
    for (const char* ext : {"jpg", "png", "webp", "tif"}) {
      for (const bool strip : {false, true}) {
        OutputOptions options;
        options.strip_metadata = strip;
        std::vector<unsigned char> a, b;
        std::string note_a, note_b;
        ASSERT_TRUE(EncodeResult(from_file, from_file.pixels, ext, options, a, note_a, error.message)) << error.message;
        ASSERT_TRUE(EncodeResult(from_bytes, from_bytes.pixels, ext, options, b, note_b, error.message)) << error.message;
        EXPECT_EQ(a, b) << source_name << " -> " << ext << " strip " << strip;
        EXPECT_EQ(note_a, note_b);
      }
    }
  }
}

TEST_F(DehazeFileTest, StripMetadataKeepsOnlyTheProfile) {
  SourcePicture source;
  std::string error, note;
  FileError read_error;
  ASSERT_TRUE(ReadSourceFile(TaggedSource("tagged.jpg"), source, read_error)) << read_error.message;
  OutputOptions options;
  options.strip_metadata = true;
  for (const char* ext : {".jpg", ".png", ".webp"}) {
    std::vector<unsigned char> encoded;
    ASSERT_TRUE(EncodeResult(source, source.pixels, ext, options, encoded, note, error)) << error;
    EXPECT_EQ(note, "") << ext;
    auto image = Exiv2::ImageFactory::open(encoded.data(), static_cast<long>(encoded.size()));
    image->readMetadata();
    EXPECT_TRUE(image->exifData().empty()) << ext;
    EXPECT_TRUE(image->xmpData().empty()) << ext;
    EXPECT_TRUE(image->iptcData().empty()) << ext;
    ASSERT_TRUE(image->iccProfileDefined()) << ext;
    EXPECT_EQ(image->iccProfile()->size_, 200) << ext;
  }
}

TEST_F(DehazeFileTest, QualityAndCompressionReachTheEncoder) {
  const SourcePicture source;
  const cv::Mat noise = RandomImage(64, 64, CV_8UC3, 3);
  cv::Mat smooth(64, 64, CV_8UC3);
  for (int y = 0; y < 64; ++y) smooth.row(y).setTo(cv::Scalar(y, 2 * y, 3 * y));
  std::string note, error;
  const auto size_with = [&](const char* ext, const OutputOptions& options) {
    const cv::Mat& picture = std::string(ext) == "png" ? smooth : noise;
    std::vector<unsigned char> encoded;
    EXPECT_TRUE(EncodeResult(source, picture, ext, options, encoded, note, error)) << error;
    return encoded.size();
  };
  OutputOptions low, high;
  low.jpeg_quality = 20;
  low.webp_quality = 20;
  low.png_compression = 0;
  high.png_compression = 9;
  EXPECT_LT(size_with("jpg", low), size_with("jpg", high));
  EXPECT_LT(size_with("webp", low), size_with("webp", high));  // lossy against lossless
  EXPECT_GT(size_with("png", low), size_with("png", high));
  // Out of range: refused, whatever the format.
  OutputOptions bad;
  bad.jpeg_quality = 0;
  std::vector<unsigned char> encoded;
  EXPECT_FALSE(EncodeResult(source, smooth, "png", bad, encoded, note, error));
  EXPECT_NE(error.find("JPEG quality"), std::string::npos);
}

TEST_F(DehazeFileTest, FormatsAreJudgedByWhatTheEncoderTakes) {
  std::string why;
  for (const char* ext : {"jpg", ".JPG", "png", "webp", "tif", "bmp", "ppm"}) {
    EXPECT_TRUE(CanWriteFormat(ext, why)) << ext << ": " << why;
  }
  for (const char* ext : {".pgm", ".pbm", ".exr", ".hdr"}) {
    EXPECT_FALSE(CanWriteFormat(ext, why)) << ext;
    EXPECT_EQ(why, "this file format cannot hold a colour picture of 8 bits per channel") << ext;
  }
  EXPECT_TRUE(CanWriteGreyFormat(".pgm", why)) << why;
  EXPECT_FALSE(CanWriteFormat(".unknownext", why));
  EXPECT_EQ(why, "no image format is known for this file extension");
  EXPECT_FALSE(CanWriteFormat("", why));
  EXPECT_EQ(FileExtension("dir.d/photo"), "");
  EXPECT_EQ(FileExtension("dir/photo.final.JPG"), ".JPG");
}

// Formats the image library handles only through a file of its own in the temporary
// folder are refused, by extension for results and by signature for bytes; the folder
// stays empty and the in-memory formats still work.
TEST_F(DehazeFileTest, NothingGoesThroughTheTemporaryFolder) {
  const std::string temp = dir_ + "/opencv-temp";
  ASSERT_EQ(::mkdir(temp.c_str(), 0700), 0);
  ASSERT_EQ(::setenv("OPENCV_TEMP_PATH", temp.c_str(), 1), 0);
  std::string why;
  for (const char* ext : {".jp2", ".ras", ".sr"}) {
    EXPECT_FALSE(CanWriteFormat(ext, why)) << ext;
    EXPECT_EQ(why, "this file format is written only through a temporary file, which is not made here") << ext;
  }
  const std::pair<std::string, const char*> file_only[] = {
      {std::string("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X 1\n\x80\x80\x80\x81"), "a Radiance HDR picture"},
      {std::string("PF\n1 1\n-1.0\n") + std::string(12, '\0'), "a PFM picture"},
      {std::string("\x76\x2f\x31\x01") + std::string(60, '\0'), "an OpenEXR picture"},
      {std::string("\x59\xa6\x6a\x95") + std::string(40, '\0'), "a Sun raster picture"},
      {std::string("\0\0\0\x0cjP  \r\n\x87\n", 12) + std::string(40, '\0'), "a JPEG 2000 picture"}};
  for (const auto& [bytes, name] : file_only) {
    SourcePicture source;
    FileError error;
    EXPECT_FALSE(ReadSourceBytes(std::vector<unsigned char>(bytes.begin(), bytes.end()), source, error, "x"));
    EXPECT_EQ(error.message, std::string(name) + " is read only from a file, not from memory: convert it to PNG, TIFF or "
                                         "JPEG first");
  }
  const std::string ppm = "P3\n1 1\n255\n10 20 30\n";
  SourcePicture source;
  FileError error;
  EXPECT_TRUE(ReadSourceBytes(std::vector<unsigned char>(ppm.begin(), ppm.end()), source, error, "x"))
      << error.message;
  EXPECT_TRUE(CanWriteFormat(".tif", why)) << why;
  ::unsetenv("OPENCV_TEMP_PATH");
  EXPECT_EQ(std::system(("rmdir '" + temp + "'").c_str()), 0) << "the temporary folder is not empty";
}

// The map's bytes are t * 255 rounded, t as the library estimates it; the result is the
// one written without a map.
TEST_F(DehazeFileTest, TransmissionMapIsTheLibrarysEstimateInBytes) {
  const std::string source = dir_ + "/scene.png";
  cv::Mat scene = RandomImage(30, 41, CV_8UC3, 11);
  cv::GaussianBlur(scene, scene, cv::Size(9, 9), 3);  // some structure, not pure noise
  scene += cv::Scalar(60, 60, 60);                    // and a veil of haze
  ASSERT_TRUE(cv::imwrite(source, scene));
  const Outcome with_map = DehazeFile(source, dir_ + "/with.png", 0.8f, OutputOptions(), dir_ + "/map.png");
  ASSERT_EQ(with_map.status, Outcome::Status::kWritten) << with_map.error;
  const Outcome without = DehazeFile(source, dir_ + "/without.png", 0.8f, OutputOptions());
  ASSERT_EQ(without.status, Outcome::Status::kWritten) << without.error;
  EXPECT_EQ(FileBytes(dir_ + "/with.png"), FileBytes(dir_ + "/without.png"));

  std::vector<float> t(scene.total());
  ASSERT_TRUE(EstimateTransmissionMapCPU(scene.data, scene.cols, scene.rows, 0.8f, t.data()));
  const cv::Mat map = cv::imread(dir_ + "/map.png", cv::IMREAD_UNCHANGED);
  ASSERT_EQ(map.type(), CV_8UC1);
  ASSERT_EQ(map.size(), scene.size());
  int mismatches = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    if (map.data[i] != static_cast<unsigned char>(std::lround(t[i] * 255.0))) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);

  // An all-black picture has no haze to see: the map is clear everywhere.
  ASSERT_TRUE(cv::imwrite(source, cv::Mat(8, 8, CV_8UC3, cv::Scalar(0, 0, 0))));
  ASSERT_EQ(DehazeFile(source, dir_ + "/black.png", 1.0f, OutputOptions(), dir_ + "/black_map.png").status,
            Outcome::Status::kWritten);
  double low = 0, high = 0;
  cv::minMaxLoc(cv::imread(dir_ + "/black_map.png", cv::IMREAD_UNCHANGED), &low, &high);
  EXPECT_EQ(low, 255.0);
  // A map format that cannot hold a grey picture is refused before any work.
  const Outcome refused = DehazeFile(source, dir_ + "/r.png", 1.0f, OutputOptions(), dir_ + "/map.exr");
  EXPECT_EQ(refused.status, Outcome::Status::kFailed);
  EXPECT_EQ(refused.seconds, -1);
}

TEST_F(DehazeFileTest, WritesThroughLinksKeepingPermissionBits) {
  ASSERT_EQ(::mkdir((dir_ + "/real").c_str(), 0755), 0);
  const std::string target = dir_ + "/real/photo.jpg";
  std::ofstream(target) << "old";
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  // A chain of two links, the first relative to its own folder.
  ASSERT_EQ(::symlink("real/photo.jpg", (dir_ + "/inner").c_str()), 0);
  ASSERT_EQ(::symlink((dir_ + "/inner").c_str(), (dir_ + "/outer.jpg").c_str()), 0);
  FileError error;
  const std::vector<unsigned char> bytes = {'n', 'e', 'w'};
  ASSERT_TRUE(WriteFileAtomically(dir_ + "/outer.jpg", bytes, false, error)) << error.message;
  EXPECT_EQ(FileBytes(target), bytes);
  struct stat info {};
  ASSERT_EQ(::lstat((dir_ + "/outer.jpg").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  // A dangling link: its target is created.
  ASSERT_EQ(::symlink("real/new.png", (dir_ + "/dangling.png").c_str()), 0);
  ASSERT_TRUE(WriteFileAtomically(dir_ + "/dangling.png", bytes, false, error)) << error.message;
  EXPECT_EQ(FileBytes(dir_ + "/real/new.png"), bytes);
  // A loop of links is an error, not a hang.
  ASSERT_EQ(::symlink("loop_b", (dir_ + "/loop_a").c_str()), 0);
  ASSERT_EQ(::symlink("loop_a", (dir_ + "/loop_b").c_str()), 0);
  EXPECT_FALSE(WriteFileAtomically(dir_ + "/loop_a", bytes, false, error));
}

}  // namespace
}  // namespace vantorel
