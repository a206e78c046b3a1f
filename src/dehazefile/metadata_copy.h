// Carrying the source's camera data (EXIF), XMP, IPTC and ICC colour profile over to the
// result, so that a photographer keeps them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace vantorel {

class SourceMetadata {
 public:
  // Reads the metadata of the source file, which the tool decoded as `decoded` (before any
  // processing: the pixels tell whether the reader turned the picture upright). Never
  // throws; what cannot be read is remembered and reported by InsertInto.
  static SourceMetadata Read(const std::string& source_path, const cv::Mat& decoded);

  // The same from the bytes of a source file in memory, which were decoded as `decoded`;
  // notes name the source `name`. Gives what Read gives for a file with these bytes.
  static SourceMetadata ReadBytes(const std::vector<unsigned char>& bytes, const std::string& name,
                                  const cv::Mat& decoded);

  // No metadata at all.
  SourceMetadata();

  // Inserts the metadata into `encoded`, a cols x rows picture encoded for `result_path`,
  // with the EXIF orientation set to 1 when the reader turned the pixels upright and the
  // EXIF thumbnail (which shows the unprocessed picture) removed. Returns a one-line note
  // for the user when some or all of the metadata is not carried, otherwise "". `encoded`
  // is replaced only when the insertion succeeds. With `only_icc`, the EXIF, XMP and IPTC
  // are left out on purpose (and not named in the note); the ICC profile is still carried.
  std::string InsertInto(const std::string& result_path, int cols, int rows,
                         std::vector<unsigned char>& encoded, bool only_icc = false) const;

  SourceMetadata(SourceMetadata&&) noexcept;
  SourceMetadata& operator=(SourceMetadata&&) noexcept;
  ~SourceMetadata();

  struct Parts;  // what was read; known to metadata_copy.cpp only

 private:
  explicit SourceMetadata(std::unique_ptr<Parts> parts);
  std::unique_ptr<Parts> parts_;
};

}  // namespace vantorel
