// Carrying the source's EXIF, XMP, IPTC and ICC profile over to the result through exiv2.
// The result is changed in memory, before the front end writes and renames it, so that
// the file still appears in one step.
#include "dehazefile/metadata_copy.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <utility>

#include <sys/stat.h>

#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>
#include <opencv2/imgcodecs.hpp>

#include "dehazefile/exif_removal.h"
#include "dehazefile/png_chunks.h"
#include "dehazefile/webp_chunks.h"

namespace vantorel {

struct SourceMetadata::Parts {
  Exiv2::ExifData exif;
  Exiv2::IptcData iptc;
  Exiv2::XmpData xmp;
  std::vector<Exiv2::byte> icc;
  bool turned_upright = false;  // the reader applied the EXIF orientation to the pixels
  std::string read_problem;     // why some of the source's metadata could not be read, or ""
  bool read_failed = false;     // none of it could be read
  bool exif_unreadable = false; // the EXIF could not be read; the rest was read without it
  std::string source_path;  // or the name given for a source in memory
};

namespace {

const char kOrientationKey[] = "Exif.Image.Orientation";

// exiv2 reports damaged metadata through its log rather than by throwing. While one of
// these is alive, the log's errors are kept (the first one) instead of being printed, so
// that the user hears of them once, in the tool's own note; warnings are not shown.
// exiv2's log and the kept message are the process's, so one thread at a time holds one;
// all the exiv2 work of this file is done under it.
class Exiv2ErrorCapture {
 public:
  Exiv2ErrorCapture()
      : lock_(Mutex()), previous_handler_(Exiv2::LogMsg::handler()), previous_level_(Exiv2::LogMsg::level()) {
    FirstError().clear();
    Exiv2::LogMsg::setHandler(&Keep);
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::error);
  }
  ~Exiv2ErrorCapture() {
    Exiv2::LogMsg::setHandler(previous_handler_);
    Exiv2::LogMsg::setLevel(previous_level_);
  }
  Exiv2ErrorCapture(const Exiv2ErrorCapture&) = delete;
  Exiv2ErrorCapture& operator=(const Exiv2ErrorCapture&) = delete;

  static const std::string& first_error() { return FirstError(); }

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::string& FirstError() {
    static std::string first;
    return first;
  }
  static void Keep(int /*level*/, const char* message) {
    if (!FirstError().empty() || message == nullptr) return;
    std::string text = message;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    FirstError() = text;
  }

  std::lock_guard<std::mutex> lock_;
  Exiv2::LogMsg::Handler previous_handler_;
  Exiv2::LogMsg::Level previous_level_;
};

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

long ExifOrientation(const Exiv2::ExifData& exif) {
  const auto it = exif.findKey(Exiv2::ExifKey(kOrientationKey));
  if (it == exif.end() || it->count() == 0) return 1;
  return it->toLong();
}

// Whether cv::IMREAD_COLOR turned the picture upright: decoding again without the
// orientation gives other pixels. A reader that did not see the orientation (it may sit
// where exiv2 finds it but the image library does not look) leaves the pixels as stored,
// and then the result must keep the orientation to be shown as the source is.
//   decode_as_stored  decodes the source again with the given flags
using DecodeWith = std::function<cv::Mat(int flags)>;

bool ReaderTurnedUpright(const DecodeWith& decode_as_stored, const cv::Mat& decoded) {
  // The decoded picture's own flags (its depth and channels), less the orientation.
  const cv::Mat as_stored = decode_as_stored(cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR | cv::IMREAD_IGNORE_ORIENTATION);
  if (as_stored.empty()) return false;
  if (as_stored.size() != decoded.size()) return true;
  // A grey picture with alpha comes as three equal channels; the reader's picture is grey.
  cv::Mat stored = as_stored;
  if (stored.channels() == 3 && decoded.channels() == 1) cv::extractChannel(stored, stored, 0);
  if (stored.type() != decoded.type()) return false;
  return cv::norm(stored, decoded, cv::NORM_INF) != 0.0;
}

void ReadInto(Exiv2::BasicIo::AutoPtr io, const DecodeWith& decode_as_stored, const cv::Mat& decoded,
              SourceMetadata::Parts& parts) {
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(io);
  if (image.get() == nullptr) return;  // a format exiv2 does not know carries nothing it can copy
  image->readMetadata();
  parts.exif = image->exifData();
  parts.iptc = image->iptcData();
  parts.xmp = image->xmpData();
  if (image->iccProfileDefined()) {
    const Exiv2::DataBuf* icc = image->iccProfile();
    parts.icc.assign(icc->pData_, icc->pData_ + icc->size_);
  }
  // OpenCV's TIFF reader turns the picture whatever the flags, so there the two decodes
  // cannot tell; the other readers turn it only when asked.
  parts.turned_upright = ExifOrientation(parts.exif) != 1 &&
                         (image->imageType() == Exiv2::ImageType::tiff || ReaderTurnedUpright(decode_as_stored, decoded));
}

bool CarriesMetadata(int image_type) {
  return image_type == Exiv2::ImageType::jpeg || image_type == Exiv2::ImageType::png ||
         image_type == Exiv2::ImageType::tiff || image_type == Exiv2::ImageType::webp;
}

bool CanWrite(const Exiv2::Image& image, Exiv2::MetadataId kind) {
  return (image.checkMode(kind) & Exiv2::amWrite) != 0;
}

// "EXIF", "EXIF and XMP", "EXIF, XMP and ICC profile".
std::string JoinKinds(const std::vector<std::string>& kinds) {
  std::string text;
  for (size_t i = 0; i < kinds.size(); ++i) {
    if (i > 0) text += i + 1 == kinds.size() ? " and " : ", ";
    text += kinds[i];
  }
  return text;
}

void SetIfPresent(Exiv2::ExifData& exif, const char* key, uint32_t value) {
  const auto it = exif.findKey(Exiv2::ExifKey(key));
  if (it != exif.end()) it->setValue(std::to_string(value));
}

void SetIfPresent(Exiv2::XmpData& xmp, const char* key, uint32_t value) {
  const auto it = xmp.findKey(Exiv2::XmpKey(key));
  if (it != xmp.end()) it->setValue(std::to_string(value));
}

// The source's EXIF as it must read for the result: upright when the pixels were turned,
// the result's size, no thumbnail of the unprocessed picture, and the colour profile left
// to the format's own place for it.
Exiv2::ExifData ExifForResult(const SourceMetadata::Parts& parts, int cols, int rows) {
  Exiv2::ExifData exif = parts.exif;
  if (parts.turned_upright) SetIfPresent(exif, kOrientationKey, 1);
  SetIfPresent(exif, "Exif.Photo.PixelXDimension", static_cast<uint32_t>(cols));
  SetIfPresent(exif, "Exif.Photo.PixelYDimension", static_cast<uint32_t>(rows));
  Exiv2::ExifThumb(exif).erase();
  const auto icc = exif.findKey(Exiv2::ExifKey("Exif.Image.InterColorProfile"));
  if (icc != exif.end()) exif.erase(icc);
  return exif;
}

Exiv2::XmpData XmpForResult(const SourceMetadata::Parts& parts, int cols, int rows) {
  Exiv2::XmpData xmp = parts.xmp;
  if (parts.turned_upright) SetIfPresent(xmp, "Xmp.tiff.Orientation", 1);
  SetIfPresent(xmp, "Xmp.exif.PixelXDimension", static_cast<uint32_t>(cols));
  SetIfPresent(xmp, "Xmp.exif.PixelYDimension", static_cast<uint32_t>(rows));
  return xmp;
}

// What the result will carry, as exiv2 is asked to write it.
struct ResultMetadata {
  Exiv2::ExifData exif;
  Exiv2::XmpData xmp;
  Exiv2::IptcData iptc;
  std::vector<Exiv2::byte> icc;
};

// Hands exiv2 the parts that the format can carry and lists the others in `dropped`. The
// ICC profile is always offered: exiv2 does not declare where it can write one, and the
// check after writing tells.
void Offer(Exiv2::Image& image, const ResultMetadata& wanted, std::vector<std::string>& dropped) {
  if (!wanted.exif.empty()) {
    if (CanWrite(image, Exiv2::mdExif)) image.setExifData(wanted.exif);
    else dropped.push_back("EXIF");
  }
  if (!wanted.xmp.empty()) {
    if (CanWrite(image, Exiv2::mdXmp)) image.setXmpData(wanted.xmp);
    else dropped.push_back("XMP");
  }
  if (!wanted.iptc.empty()) {
    if (CanWrite(image, Exiv2::mdIptc)) image.setIptcData(wanted.iptc);
    else dropped.push_back("IPTC");
  }
  // exiv2 0.27 files a WebP's profile under the chunk name VP8X, which leaves a malformed
  // file: WriteInto puts it there itself.
  if (!wanted.icc.empty() && image.imageType() != Exiv2::ImageType::webp) {
    Exiv2::DataBuf icc(wanted.icc.data(), static_cast<long>(wanted.icc.size()));
    image.setIccProfile(icc, false);
  }
}

// Reads the written bytes back and lists, in `dropped`, what exiv2 accepted but did not
// write, so that nothing is lost without a word.
void CheckWritten(const std::vector<unsigned char>& bytes, const ResultMetadata& wanted,
                  std::vector<std::string>& dropped) {
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytes.data(), static_cast<long>(bytes.size()));
  if (image.get() == nullptr) throw Exiv2::Error(Exiv2::kerFileContainsUnknownImageType);
  image->readMetadata();
  const auto missing = [&dropped](const std::string& kind) {
    for (const std::string& d : dropped) {
      if (d == kind) return;
    }
    dropped.push_back(kind);
  };
  if (!wanted.exif.empty() && image->exifData().empty()) missing("EXIF");
  if (!wanted.xmp.empty() && image->xmpData().empty()) missing("XMP");
  if (!wanted.iptc.empty() && image->iptcData().empty()) missing("IPTC");
  if (!wanted.icc.empty() &&
      (!image->iccProfileDefined() || image->iccProfile()->size_ != static_cast<long>(wanted.icc.size()))) {
    missing("ICC profile");
  }
}

std::vector<std::string> KindsPresent(const SourceMetadata::Parts& parts) {
  std::vector<std::string> kinds;
  if (!parts.exif.empty()) kinds.push_back("EXIF");
  if (!parts.xmp.empty()) kinds.push_back("XMP");
  if (!parts.iptc.empty()) kinds.push_back("IPTC");
  if (!parts.icc.empty()) kinds.push_back("ICC profile");
  return kinds;
}

ResultMetadata WantedInResult(const SourceMetadata::Parts& parts, int cols, int rows) {
  ResultMetadata wanted;
  if (!parts.exif.empty()) wanted.exif = ExifForResult(parts, cols, rows);
  if (!parts.xmp.empty()) wanted.xmp = XmpForResult(parts, cols, rows);
  wanted.iptc = parts.iptc;
  wanted.icc = parts.icc;
  return wanted;
}

std::vector<unsigned char> ContentsOf(Exiv2::BasicIo& io) {
  if (io.open() != 0) throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed, io.path());
  std::vector<unsigned char> bytes(io.size());
  const long read = bytes.empty() ? 0 : io.read(bytes.data(), static_cast<long>(bytes.size()));
  io.close();
  if (read != static_cast<long>(bytes.size())) throw Exiv2::Error(Exiv2::kerInputDataReadFailed);
  return bytes;
}

// `encoded` with the metadata written in, or an exception.
std::vector<unsigned char> WriteInto(const std::vector<unsigned char>& encoded, const ResultMetadata& wanted,
                                     int cols, int rows, std::vector<std::string>& dropped) {
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(encoded.data(), static_cast<long>(encoded.size()));
  if (image.get() == nullptr) throw Exiv2::Error(Exiv2::kerFileContainsUnknownImageType);
  image->readMetadata();
  Offer(*image, wanted, dropped);
  image->writeMetadata();
  std::vector<unsigned char> bytes = ContentsOf(image->io());
  if (image->imageType() == Exiv2::ImageType::png && !NameUnnamedIccProfile(bytes)) {
    throw Exiv2::Error(Exiv2::kerErrorMessage, "the PNG written is not well-formed");
  }
  // Should the file not take it, the check below reports the profile as not kept.
  if (image->imageType() == Exiv2::ImageType::webp && !wanted.icc.empty()) {
    SetWebPIccProfile(bytes, wanted.icc, cols, rows);
  }
  CheckWritten(bytes, wanted, dropped);
  return bytes;
}

// One line, whatever the library's message holds.
std::string Note(const std::string& path, const std::string& text) {
  std::string note = path + ": " + text;
  for (char& c : note) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return note;
}

// Reads through `open_io` (a fresh reader of the source each time it is called).
void ReadAllParts(const std::function<Exiv2::BasicIo::AutoPtr()>& open_io, const DecodeWith& decode_as_stored,
                  const cv::Mat& decoded, SourceMetadata::Parts& parts) {
  const Exiv2ErrorCapture capture;
  ReadInto(open_io(), decode_as_stored, decoded, parts);
  if (!capture.first_error().empty()) parts.read_problem = capture.first_error();
}

//   open_io      a fresh reader of the source each time it is called
//   whole_file   the source's bytes, wanted only when its EXIF is too damaged to read
std::unique_ptr<SourceMetadata::Parts> ReadParts(const std::function<Exiv2::BasicIo::AutoPtr()>& open_io,
                                                 const DecodeWith& decode_as_stored,
                                                 const std::function<std::vector<unsigned char>()>& whole_file,
                                                 const std::string& name, const cv::Mat& decoded) {
  auto parts = std::make_unique<SourceMetadata::Parts>();
  parts->source_path = name;
  std::string reason;
  try {
    ReadAllParts(open_io, decode_as_stored, decoded, *parts);
    return parts;
  } catch (const std::exception& e) {
    reason = e.what();
    if (reason.empty()) reason = "unknown error";
  }
  // A damaged EXIF block makes exiv2 give up on the whole file: read the rest without it,
  // so that the colour profile, XMP and IPTC are kept.
  parts = std::make_unique<SourceMetadata::Parts>();
  parts->source_path = name;
  parts->read_problem = reason;
  std::vector<unsigned char> without_exif;
  if (RemoveExif(whole_file(), without_exif)) {
    try {
      ReadAllParts(
          [&without_exif] {
            return Exiv2::BasicIo::AutoPtr(new Exiv2::MemIo(without_exif.data(), static_cast<long>(without_exif.size())));
          },
          decode_as_stored, decoded, *parts);
      parts->read_problem = reason;
      parts->exif_unreadable = true;
      return parts;
    } catch (const std::exception&) {
      parts = std::make_unique<SourceMetadata::Parts>();
      parts->source_path = name;
      parts->read_problem = reason;
    }
  }
  parts->read_failed = true;
  return parts;
}

std::vector<unsigned char> ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

SourceMetadata::SourceMetadata() : parts_(std::make_unique<Parts>()) {}
SourceMetadata::SourceMetadata(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}
SourceMetadata::SourceMetadata(SourceMetadata&&) noexcept = default;
SourceMetadata& SourceMetadata::operator=(SourceMetadata&&) noexcept = default;
SourceMetadata::~SourceMetadata() = default;

SourceMetadata SourceMetadata::Read(const std::string& source_path, const cv::Mat& decoded) {
  // Another kind of file (a pipe, a device) may not be readable a second time.
  if (!IsRegularFile(source_path)) {
    auto parts = std::make_unique<Parts>();
    parts->source_path = source_path;
    return SourceMetadata(std::move(parts));
  }
  return SourceMetadata(ReadParts(
      // A plain file: never a URL or stdin.
      [&source_path] { return Exiv2::BasicIo::AutoPtr(new Exiv2::FileIo(source_path)); },
      [&source_path](int flags) { return cv::imread(source_path, flags); },
      [&source_path] { return ReadWholeFile(source_path); }, source_path, decoded));
}

SourceMetadata SourceMetadata::ReadBytes(const std::vector<unsigned char>& bytes, const std::string& name,
                                         const cv::Mat& decoded) {
  return SourceMetadata(ReadParts(
      [&bytes] { return Exiv2::BasicIo::AutoPtr(new Exiv2::MemIo(bytes.data(), static_cast<long>(bytes.size()))); },
      [&bytes](int flags) { return cv::imdecode(bytes, flags); }, [&bytes] { return bytes; }, name, decoded));
}

std::string SourceMetadata::InsertInto(const std::string& result_path, int cols, int rows,
                                       std::vector<unsigned char>& encoded, bool only_icc) const {
  Parts icc_alone;
  if (only_icc) {
    icc_alone.icc = parts_->icc;
    icc_alone.source_path = parts_->source_path;
    // An EXIF that could not be read is one that was to be left out anyway.
    if (!parts_->exif_unreadable) icc_alone.read_problem = parts_->read_problem;
    icc_alone.read_failed = parts_->read_failed;
  }
  const Parts& parts = only_icc ? icc_alone : *parts_;
  std::string note;
  if (parts.read_failed) {
    return Note(parts.source_path, "the metadata could not be read (" + parts.read_problem +
                                       "); the result was written without it");
  }
  // Said in a photographer's words, with what was kept, once that is known.
  const auto camera_data_note = [&parts](const std::vector<std::string>& kept) {
    std::string text = "camera data could not be read and was left out";
    if (!kept.empty()) text += "; " + JoinKinds(kept) + " kept";
    return Note(parts.source_path, text);
  };
  if (!parts.exif_unreadable && !parts.read_problem.empty()) {
    note = Note(parts.source_path, "some of the metadata could not be read (" + parts.read_problem + ")");
  }
  const std::vector<std::string> present = KindsPresent(parts);
  if (parts.exif_unreadable) note = camera_data_note({});
  if (present.empty()) return note;

  const auto add = [&note](const std::string& text) { note += (note.empty() ? "" : "; ") + text; };
  const std::string written_without = "; the result was written without ";
  std::vector<std::string> dropped;
  try {
    const Exiv2ErrorCapture capture;
    const ResultMetadata wanted = WantedInResult(parts, cols, rows);
    if (!CarriesMetadata(Exiv2::ImageFactory::getType(encoded.data(), static_cast<long>(encoded.size())))) {
      add(Note(result_path, "this file format cannot carry the source's " + JoinKinds(present) +
                                written_without + (present.size() == 1 ? "it" : "them")));
      return note;
    }
    std::vector<unsigned char> with_metadata = WriteInto(encoded, wanted, cols, rows, dropped);
    if (!capture.first_error().empty()) throw Exiv2::Error(Exiv2::kerErrorMessage, capture.first_error());
    encoded.swap(with_metadata);
  } catch (const std::exception& e) {
    add(Note(result_path, std::string("the metadata could not be added (") + e.what() + ")" +
                              written_without + "it"));
    return note;
  }
  if (parts.exif_unreadable) {
    std::vector<std::string> kept;
    for (const char* kind : {"ICC profile", "XMP", "IPTC"}) {
      const auto is = [kind](const std::string& k) { return k == kind; };
      if (std::any_of(present.begin(), present.end(), is) && std::none_of(dropped.begin(), dropped.end(), is)) {
        kept.push_back(kind == std::string("ICC profile") ? "colour profile" : kind);
      }
    }
    note = camera_data_note(kept);
  }
  if (!dropped.empty()) {
    add(Note(result_path, "the source's " + JoinKinds(dropped) + " could not be kept in this file format" +
                              written_without + (dropped.size() == 1 ? "it" : "them")));
  }
  return note;
}

}  // namespace vantorel
