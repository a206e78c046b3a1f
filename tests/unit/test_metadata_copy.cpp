// SourceMetadata: what happens to the result's bytes when the metadata cannot go in.
#include "dehazefile/metadata_copy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <exiv2/exiv2.hpp>
#include <opencv2/imgcodecs.hpp>

namespace vantorel {
namespace {

class SourceMetadataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vantorel-metadata-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const std::string& file : files_) ::unlink(file.c_str());
    ::rmdir(dir_.c_str());
  }
  std::string Path(const std::string& name) {
    files_.push_back(dir_ + "/" + name);
    return files_.back();
  }
  // A JPEG with a camera model in its EXIF.
  std::string TaggedJpeg() {
    const std::string path = Path("tagged.jpg");
    EXPECT_TRUE(cv::imwrite(path, picture_));
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    image->exifData()["Exif.Image.Model"] = "VT-100";
    image->writeMetadata();
    return path;
  }
  static std::vector<unsigned char> Encoded(const std::string& ext, const cv::Mat& picture) {
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(cv::imencode(ext, picture, bytes));
    return bytes;
  }

  const cv::Mat picture_ = cv::Mat(12, 16, CV_8UC3, cv::Scalar(30, 120, 200));
  std::string dir_;
  std::vector<std::string> files_;
};

TEST_F(SourceMetadataTest, CarriesTheCameraModelIntoAJpeg) {
  const std::string source = TaggedJpeg();
  const SourceMetadata metadata = SourceMetadata::Read(source, cv::imread(source, cv::IMREAD_COLOR));
  std::vector<unsigned char> encoded = Encoded(".jpg", picture_);
  EXPECT_EQ(metadata.InsertInto("out.jpg", picture_.cols, picture_.rows, encoded), "");

  auto result = Exiv2::ImageFactory::open(encoded.data(), static_cast<long>(encoded.size()));
  result->readMetadata();
  const auto model = result->exifData().findKey(Exiv2::ExifKey("Exif.Image.Model"));
  ASSERT_NE(model, result->exifData().end());
  EXPECT_EQ(model->toString(), "VT-100");
  // The pixels are not touched.
  const cv::Mat decoded = cv::imdecode(encoded, cv::IMREAD_COLOR);
  EXPECT_EQ(cv::norm(decoded, cv::imdecode(Encoded(".jpg", picture_), cv::IMREAD_COLOR), cv::NORM_INF), 0.0);
}

TEST_F(SourceMetadataTest, LeavesBytesThatCannotTakeItAsTheyWere) {
  const std::string source = TaggedJpeg();
  const SourceMetadata metadata = SourceMetadata::Read(source, cv::imread(source, cv::IMREAD_COLOR));

  // A format that carries none: one note naming the result.
  const std::vector<unsigned char> bmp = Encoded(".bmp", picture_);
  std::vector<unsigned char> encoded = bmp;
  const std::string bmp_note = metadata.InsertInto("out.bmp", picture_.cols, picture_.rows, encoded);
  EXPECT_EQ(bmp_note.rfind("out.bmp: ", 0), 0u) << bmp_note;
  EXPECT_NE(bmp_note.find("EXIF"), std::string::npos) << bmp_note;
  EXPECT_EQ(encoded, bmp);

  // A JPEG cut short: exiv2 fails, and the bytes stay as they were.
  const std::vector<unsigned char> jpeg = Encoded(".jpg", picture_);
  const std::vector<unsigned char> cut(jpeg.begin(), jpeg.begin() + 30);
  encoded = cut;
  const std::string cut_note = metadata.InsertInto("cut.jpg", picture_.cols, picture_.rows, encoded);
  EXPECT_EQ(cut_note.rfind("cut.jpg: the metadata could not be added", 0), 0u) << cut_note;
  EXPECT_EQ(cut_note.find('\n'), std::string::npos);
  EXPECT_EQ(encoded, cut);
}

TEST_F(SourceMetadataTest, SourcesWithoutMetadataGiveNoNote) {
  const std::string plain = Path("plain.png");
  ASSERT_TRUE(cv::imwrite(plain, picture_));
  const std::string ppm = Path("plain.ppm");  // a format exiv2 does not know
  ASSERT_TRUE(cv::imwrite(ppm, picture_));

  for (const std::string& source : {plain, ppm, dir_ + "/missing.jpg"}) {
    const SourceMetadata metadata = SourceMetadata::Read(source, picture_);
    std::vector<unsigned char> encoded = Encoded(".png", picture_);
    const std::vector<unsigned char> before = encoded;
    EXPECT_EQ(metadata.InsertInto("out.png", picture_.cols, picture_.rows, encoded), "") << source;
    EXPECT_EQ(encoded, before) << source;
  }
}

// A pipe may have no writer left: opening it again would wait for ever.
TEST_F(SourceMetadataTest, DoesNotOpenAPipe) {
  const std::string fifo = Path("pipe.jpg");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const SourceMetadata metadata = SourceMetadata::Read(fifo, picture_);
  std::vector<unsigned char> encoded = Encoded(".jpg", picture_);
  EXPECT_EQ(metadata.InsertInto("out.jpg", picture_.cols, picture_.rows, encoded), "");
}

}  // namespace
}  // namespace vantorel
