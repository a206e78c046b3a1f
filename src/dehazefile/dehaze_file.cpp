// The single form as one call: read, check, dehaze, encode, write.
#include "dehazefile/dehaze_file.h"

#include <chrono>
#include <exception>
#include <new>
#include <vector>

#include "dehazefile/library_errors.h"
#include "imagedehaze/dehaze.h"

namespace vantorel {

namespace {

// The bytes of the transmission map's picture: t * 255, rounded to the nearest.
cv::Mat MapPicture(const std::vector<float>& transmission, int cols, int rows) {
  const cv::Mat map(rows, cols, CV_32FC1, const_cast<float*>(transmission.data()));
  cv::Mat picture;
  map.convertTo(picture, CV_8U, 255.0);
  return picture;
}

// Writes one file of the outcome; on failure its status says what kind of failure it was.
bool Write(const std::string& path, const std::vector<unsigned char>& bytes, bool force, const char* what,
           Outcome& outcome) {
  FileError error;
  if (WriteFileAtomically(path, bytes, force, error)) return true;
  switch (error.kind) {
    case FileError::Kind::kWriteProtected: outcome.status = Outcome::Status::kWriteProtected; break;
    case FileError::Kind::kNoSpace: outcome.status = Outcome::Status::kNoSpace; break;
    default: outcome.status = Outcome::Status::kFailed; break;
  }
  outcome.error = path + ": cannot write " + what + ": " + error.message;
  return false;
}

// Everything after the checks of the arguments; may throw what the libraries throw.
void Run(const std::string& source, const std::string& result, float thickness, const OutputOptions& options,
         const std::string& map_path, bool force, Look look, Outcome& outcome) {
  std::string error;
  SourcePicture picture;
  const bool will_dehaze = !BelowDehazeThreshold(thickness);
  FileError read_error;
  if (!ReadSourceFile(source, picture, read_error, will_dehaze)) {
    outcome.status = read_error.kind == FileError::Kind::kUnreadable ? Outcome::Status::kUnreadable
                                                                    : Outcome::Status::kFailed;
    outcome.error = source + ": " + read_error.message;
    return;
  }
  cv::Mat& pixels = picture.pixels;
  outcome.cols = pixels.cols;
  outcome.rows = pixels.rows;
  if (!will_dehaze) {
    outcome.status = Outcome::Status::kNothingToDo;
    return;
  }
  const int map_bytes_per_pixel = map_path.empty() ? 0 : static_cast<int>(sizeof(float));
  if (!PipelineFitsInMemory(pixels.cols, pixels.rows, error, map_bytes_per_pixel + SourceExtraBytesPerPixel(picture))) {
    outcome.error = source + ": " + error;
    return;
  }

  std::vector<float> transmission;
  DehazeOptions dehaze_options;
  dehaze_options.look = look;
  if (!map_path.empty()) {
    transmission.resize(pixels.total());
    dehaze_options.transmission = transmission.data();
  }
  const auto start = std::chrono::steady_clock::now();
  const bool dehazed = DehazeColour(pixels, thickness, dehaze_options);
  const auto end = std::chrono::steady_clock::now();
  if (!dehazed) {
    outcome.error = source + ": the picture was refused by the dehazer";
    return;
  }
  outcome.seconds = std::chrono::duration<double>(end - start).count();

  std::vector<unsigned char> encoded;
  std::string note;
  if (!EncodeResult(picture, pixels, FileExtension(result), options, encoded, note, error, result)) {
    outcome.error = result + ": cannot write the result: " + error;
    return;
  }
  if (!Write(result, encoded, force, "the result", outcome)) return;
  outcome.note = note;
  if (!map_path.empty()) {
    // The result is in place; a map that cannot be written fails the call but leaves it.
    if (!EncodeResult(picture, MapPicture(transmission, pixels.cols, pixels.rows), FileExtension(map_path),
                      options, encoded, note, error, map_path)) {
      outcome.error = map_path + ": cannot write the transmission map: " + error;
      return;
    }
    if (!Write(map_path, encoded, force, "the transmission map", outcome)) return;
  }
  outcome.status = Outcome::Status::kWritten;
}

}  // namespace

Outcome DehazeFile(const std::string& source, const std::string& result, float thickness,
                   const OutputOptions& options, const std::string& transmission_map_path, bool force,
                   Look look) {
  Outcome outcome;
  std::string why;
  if (!CheckOutputOptions(options, why)) {
    outcome.error = why;
    return outcome;
  }
  if (!CanWriteFormat(FileExtension(result), why) || !(why = DepthRefusal(FileExtension(result), options.depth)).empty()) {
    outcome.error = result + ": " + why;
    return outcome;
  }
  if (!transmission_map_path.empty() && !CanWriteGreyFormat(FileExtension(transmission_map_path), why)) {
    outcome.error = transmission_map_path + ": " + why;
    return outcome;
  }
  FailOnLibraryErrors(source, outcome,
                      [&] { Run(source, result, thickness, options, transmission_map_path, force, look, outcome); });
  return outcome;
}

}  // namespace vantorel
