// Pictures with camera data, for the metadata tests.
//   test_metadata make-marked W H PATH   a W x H picture, red in its top-left quarter as stored
//   test_metadata tag PATH ORIENTATION [exif-chunk]
//                                        adds EXIF (camera, date, orientation, a thumbnail),
//                                        XMP, IPTC and an ICC profile to the file; with
//                                        exif-chunk, a PNG's EXIF goes into an eXIf chunk
//                                        (which the image library reads) instead of the
//                                        text chunk that exiv2 writes
//   test_metadata show PATH              prints the fields that tag writes, one per line
//   test_metadata red-quarter PATH       prints the quarter of the stored pixels that is red
//   test_metadata fix-png-crc PATH       recomputes the CRC of every chunk of a PNG (after a
//                                        test changed bytes inside one)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "dehazefile/png_chunks.h"
#include "dehazefile/webp_chunks.h"

namespace {

const char* const kExifFields[] = {"Exif.Image.Make", "Exif.Image.Model", "Exif.Photo.DateTimeOriginal",
                                   "Exif.Image.Orientation", "Exif.Photo.PixelXDimension",
                                   "Exif.Photo.PixelYDimension"};
const char* const kXmpFields[] = {"Xmp.photoshop.City", "Xmp.xmp.Rating", "Xmp.tiff.Orientation"};
const char* const kIptcFields[] = {"Iptc.Application2.Caption"};

void PutBigEndian32(std::vector<Exiv2::byte>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<Exiv2::byte>(value >> (24 - 8 * i));
}

void PutText(std::vector<Exiv2::byte>& bytes, size_t at, const char* text) {
  for (size_t i = 0; text[i] != '\0'; ++i) bytes[at + i] = static_cast<Exiv2::byte>(text[i]);
}

// A display profile with a well-formed header and no tags, padded with a pattern that a
// copy must keep byte for byte.
std::vector<Exiv2::byte> IccProfile() {
  std::vector<Exiv2::byte> icc(300, 0);
  PutBigEndian32(icc, 0, static_cast<uint32_t>(icc.size()));
  PutBigEndian32(icc, 8, 0x02100000);  // version 2.1
  PutText(icc, 12, "mntr");
  PutText(icc, 16, "RGB ");
  PutText(icc, 20, "XYZ ");
  PutText(icc, 36, "acsp");
  PutBigEndian32(icc, 68, 0x0000F6D6);  // illuminant D50: X, Y, Z as s15Fixed16
  PutBigEndian32(icc, 72, 0x00010000);
  PutBigEndian32(icc, 76, 0x0000D32D);
  PutText(icc, 80, "vtst");  // creator
  PutBigEndian32(icc, 128, 0);  // tag count
  for (size_t i = 132; i < icc.size(); ++i) icc[i] = static_cast<Exiv2::byte>(i * 7 + 3);
  return icc;
}

// FNV-1a, enough to tell profiles apart.
uint32_t Hash(const Exiv2::byte* data, long size) {
  uint32_t h = 2166136261u;
  for (long i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
  return h;
}

int MakeMarked(int w, int h, const char* path) {
  cv::Mat img(h, w, CV_8UC3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(150 + 60 * y / h),
                                          static_cast<uchar>(150 + 60 * x / w), 150);
  img(cv::Rect(0, 0, w / 2, h / 2)).setTo(cv::Scalar(40, 40, 220));
  if (!cv::imwrite(path, img)) {
    std::fprintf(stderr, "test_metadata: cannot write %s\n", path);
    return 1;
  }
  return 0;
}

std::vector<unsigned char> ReadFile(const char* path) {
  Exiv2::FileIo file(path);
  if (file.open() != 0) throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed, path);
  std::vector<unsigned char> bytes(file.size());
  file.read(bytes.data(), static_cast<long>(bytes.size()));
  return bytes;
}

void WriteFile(const char* path, const std::vector<unsigned char>& bytes) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
      std::fclose(file) != 0) {
    throw std::runtime_error(std::string("cannot write ") + path);
  }
}

// exiv2 leaves a PNG's new colour profile unnamed, which libpng refuses.
void NameIccProfile(const char* path) {
  std::vector<unsigned char> png = ReadFile(path);
  if (!vantorel::NameUnnamedIccProfile(png)) throw std::runtime_error("not a PNG");
  WriteFile(path, png);
}

void AddExifChunk(const char* path, const Exiv2::ExifData& exif) {
  Exiv2::Blob tiff;
  Exiv2::ExifParser::encode(tiff, Exiv2::littleEndian, exif);
  std::vector<unsigned char> png = ReadFile(path);
  const std::vector<vantorel::PngChunk> chunks = vantorel::ListPngChunks(png);
  if (chunks.empty() || chunks[0].type != "IHDR") throw std::runtime_error("not a PNG");
  const std::vector<unsigned char> chunk =
      vantorel::MakePngChunk("eXIf", std::vector<unsigned char>(tiff.begin(), tiff.end()));
  png.insert(png.begin() + static_cast<std::ptrdiff_t>(chunks[1].offset), chunk.begin(), chunk.end());
  WriteFile(path, png);
}

int Tag(const char* path, int orientation, bool exif_chunk) {
  auto image = Exiv2::ImageFactory::open(path);
  image->readMetadata();
  const bool png = image->imageType() == Exiv2::ImageType::png;
  Exiv2::ExifData& exif = image->exifData();
  exif["Exif.Image.Make"] = "Vantorel Test";
  exif["Exif.Image.Model"] = "VT-100";
  exif["Exif.Photo.DateTimeOriginal"] = "2021:06:05 14:03:27";
  exif["Exif.Image.Orientation"] = static_cast<uint16_t>(orientation);
  exif["Exif.Photo.PixelXDimension"] = static_cast<uint32_t>(image->pixelWidth());
  exif["Exif.Photo.PixelYDimension"] = static_cast<uint32_t>(image->pixelHeight());
  std::vector<uchar> thumbnail;
  cv::imencode(".jpg", cv::Mat(8, 8, CV_8UC3, cv::Scalar(90, 90, 90)), thumbnail);
  Exiv2::ExifThumb(exif).setJpegThumbnail(thumbnail.data(), static_cast<long>(thumbnail.size()));
  Exiv2::XmpData& xmp = image->xmpData();
  xmp["Xmp.photoshop.City"] = "Testville";
  xmp["Xmp.xmp.Rating"] = "4";
  xmp["Xmp.tiff.Orientation"] = std::to_string(orientation);
  image->iptcData()["Iptc.Application2.Caption"] = "Hazy test scene";
  // exiv2 0.27 would write a WebP's profile under a wrong chunk name: added after.
  const bool webp = image->imageType() == Exiv2::ImageType::webp;
  std::vector<Exiv2::byte> icc = IccProfile();
  if (!webp) {
    Exiv2::DataBuf icc_buf(icc.data(), static_cast<long>(icc.size()));
    image->setIccProfile(icc_buf, true);
  }
  const Exiv2::ExifData tagged_exif = exif;
  if (png && exif_chunk) exif.clear();
  image->writeMetadata();
  if (png) NameIccProfile(path);
  if (png && exif_chunk) AddExifChunk(path, tagged_exif);
  if (webp) {
    std::vector<unsigned char> bytes = ReadFile(path);
    if (!vantorel::SetWebPIccProfile(bytes, icc, image->pixelWidth(), image->pixelHeight())) {
      throw std::runtime_error("cannot add the profile to the WebP file");
    }
    WriteFile(path, bytes);
  }
  return 0;
}

template <typename Data, typename Key, size_t N>
void ShowFields(const Data& data, const char* const (&keys)[N]) {
  for (const char* key : keys) {
    const auto it = data.findKey(Key(key));
    std::printf("%s=%s\n", key, it == data.end() ? "(none)" : it->toString().c_str());
  }
}

int Show(const char* path) {
  auto image = Exiv2::ImageFactory::open(path);
  image->readMetadata();
  ShowFields<Exiv2::ExifData, Exiv2::ExifKey>(image->exifData(), kExifFields);
  ShowFields<Exiv2::XmpData, Exiv2::XmpKey>(image->xmpData(), kXmpFields);
  ShowFields<Exiv2::IptcData, Exiv2::IptcKey>(image->iptcData(), kIptcFields);
  if (image->iccProfileDefined()) {
    const Exiv2::DataBuf* icc = image->iccProfile();
    std::printf("icc=%ld bytes, hash %08x\n", icc->size_, Hash(icc->pData_, icc->size_));
  } else {
    std::printf("icc=(none)\n");
  }
  const Exiv2::ExifThumbC thumb(image->exifData());
  std::printf("thumbnail=%s\n", thumb.copy().size_ > 0 ? "yes" : "no");
  return 0;
}

// The quarter whose mean red excess (R - (G + B) / 2) is largest, as stored in the file.
int RedQuarter(const char* path) {
  const cv::Mat img = cv::imread(path, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
  if (img.empty()) {
    std::fprintf(stderr, "test_metadata: cannot decode %s\n", path);
    return 1;
  }
  const int hw = img.cols / 2, hh = img.rows / 2;
  const struct {
    const char* name;
    cv::Rect area;
  } quarters[] = {{"top-left", {0, 0, hw, hh}}, {"top-right", {hw, 0, img.cols - hw, hh}},
                  {"bottom-left", {0, hh, hw, img.rows - hh}},
                  {"bottom-right", {hw, hh, img.cols - hw, img.rows - hh}}};
  const char* best = "";
  double best_excess = -1e9;
  for (const auto& quarter : quarters) {
    const cv::Scalar m = cv::mean(img(quarter.area));
    const double excess = m[2] - (m[0] + m[1]) / 2;
    if (excess > best_excess) {
      best_excess = excess;
      best = quarter.name;
    }
  }
  std::printf("%s\n", best);
  return 0;
}

int FixPngCrc(const char* path) {
  std::vector<unsigned char> png = ReadFile(path);
  std::vector<unsigned char> fixed(png.begin(), png.begin() + 8);
  for (size_t at = 8; at + 12 <= png.size();) {
    const size_t length = (size_t{png[at]} << 24) | (size_t{png[at + 1]} << 16) | (size_t{png[at + 2]} << 8) | png[at + 3];
    if (at + 12 + length > png.size()) throw std::runtime_error("a chunk runs past the end");
    const std::string type(reinterpret_cast<const char*>(&png[at + 4]), 4);
    const auto data = png.begin() + static_cast<std::ptrdiff_t>(at + 8);
    const std::vector<unsigned char> chunk =
        vantorel::MakePngChunk(type, std::vector<unsigned char>(data, data + static_cast<std::ptrdiff_t>(length)));
    fixed.insert(fixed.end(), chunk.begin(), chunk.end());
    at += 12 + length;
  }
  WriteFile(path, fixed);
  return 0;
}

int Dispatch(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "make-marked" && argc == 5) return MakeMarked(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
  if (command == "tag" && (argc == 4 || (argc == 5 && std::string(argv[4]) == "exif-chunk"))) {
    return Tag(argv[2], std::atoi(argv[3]), argc == 5);
  }
  if (command == "show" && argc == 3) return Show(argv[2]);
  if (command == "red-quarter" && argc == 3) return RedQuarter(argv[2]);
  if (command == "fix-png-crc" && argc == 3) return FixPngCrc(argv[2]);
  std::fprintf(stderr, "usage: test_metadata make-marked|tag|show|red-quarter|fix-png-crc ...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Dispatch(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "test_metadata: %s\n", e.what());
    return 1;
  }
}
