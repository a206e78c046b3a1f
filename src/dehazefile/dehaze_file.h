// "Dehaze this file into that one": the layer every front end (command line, batch, web
// server, Python) goes through, so that the same source, thickness, format and options
// give the same result bytes whichever front end wrote them.
//
// Errors are one line without a trailing newline. Unless said otherwise a function
// returns false on failure with the reason in `error` (a FileError where the caller may act
// on its kind), and the caller adds the file's name. Every function may be called from
// several threads at once.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "dehazefile/file_error.h"
#include "dehazefile/look_arg.h"
#include "dehazefile/memory_budget.h"
#include "dehazefile/metadata_copy.h"
#include "dehazefile/picture_parts.h"
#include "dehazefile/output_option_table.h"
#include "dehazefile/output_options.h"
#include "dehazefile/thickness_arg.h"

namespace vantorel {

// A decoded source and what its result needs.
struct SourcePicture {
  // What the engine dehazes: CV_8UC3 or CV_16UC3 BGR at the source's depth, continuous,
  // turned upright as the tool reads it; a grey source's grey in all three channels.
  cv::Mat pixels;
  cv::Mat alpha;            // the source's alpha (CV_8UC1 or CV_16UC1 as pixels), upright; empty for none
  bool grey = false;        // the source is grey (with or without alpha): so is its result
  SourceMetadata metadata;  // EXIF, XMP, IPTC and ICC profile, read from the same file or bytes
};

// The bits per channel of a source: 8 or 16.
int SourceDepthBits(const SourcePicture& source);

// The bytes per pixel that a source needs beyond what PipelineFitsInMemory counts for an
// 8-bit colour picture: the deeper pictures of the pipeline and the kept alpha.
int SourceExtraBytesPerPixel(const SourcePicture& source);

// Reads and decodes a source file at its depth (8 or 16 bits; others are read as 8 bits),
// with its alpha and whether it is grey. Before decoding, refuses a picture whose declared
// size would not fit in memory.
//   path         the source file
//   source       receives the picture and its metadata
//   error        the reason, when false is returned: kUnreadable when the file could not be
//                decoded (as opposed to being refused for its size), and the single form
//                prints "Can't read image" then
//   will_dehaze  whether the memory check counts the dehaze too, not only the decoded picture
bool ReadSourceFile(const std::string& path, SourcePicture& source, FileError& error,
                    bool will_dehaze = true);

// The same from the bytes of a file in memory; the result is byte-identical to
// ReadSourceFile's for a file holding the same bytes.
//   bytes        the whole file
//   source       receives the picture and its metadata
//   error        the reason, when false is returned (kUnreadable as for ReadSourceFile)
//   name         how notes about the metadata name the source (an upload's file name)
bool ReadSourceBytes(const std::vector<unsigned char>& bytes, SourcePicture& source, FileError& error,
                     const std::string& name = "source");

// The memory estimate, PipelineFitsInMemory(cols, rows, error, extra_per_pixel) and
// PipelinePeakBytes(cols, rows), is in memory_budget.h.

// The extension of a file name, with its dot (".jpg"), or "" when it has none.
std::string FileExtension(const std::string& path);

// Whether results can be written in a format: decided by encoding a small 3-channel 8-bit
// picture and decoding it back, once per extension.
//   extension  "jpg", ".png", "webp": with or without the dot, in any case
//   why        the reason, when false is returned: no encoder, or one that cannot hold colour
bool CanWriteFormat(const std::string& extension, std::string& why);

// Whether results of 16 bits per channel can be written in a format (PNG, TIFF, PPM).
bool CanWriteDeepFormat(const std::string& extension, std::string& why);

// The same for a one-channel 8-bit picture (a transmission map).
bool CanWriteGreyFormat(const std::string& extension, std::string& why);

// Encodes a result with the source's metadata as the options ask.
//   source          the source as read (its metadata, alpha and greyness; its pixels are not used)
//   result_pixels   the dehazed picture, CV_8UC3 or CV_16UC3 as the source's pixels (or
//                   CV_8UC1 without metadata: a map). It is written at the depth ResultDepth
//                   gives for options.depth, grey again for a grey source, with the source's
//                   alpha where the format holds alpha.
//   extension       the format, as for CanWriteFormat
//   options         quality, compression, depth and whether metadata is kept
//   encoded         receives the file's bytes
//   note            receives a one-line note when some metadata or the alpha could not be
//                   kept, else ""
//   error           the reason, when false is returned (the encoder failed, or 16 bits were
//                   asked of a format that cannot hold them)
//   result_name     how the note names the result
bool EncodeResult(const SourcePicture& source, const cv::Mat& result_pixels, const std::string& extension,
                  const OutputOptions& options, std::vector<unsigned char>& encoded, std::string& note,
                  std::string& error, const std::string& result_name = "result");

// Replaces a file with new contents in one step: a temporary file in the same folder,
// flushed, then renamed over it, so that a failure or an interrupting signal leaves no
// partial file and never damages an existing one. A symbolic link is followed: its final
// target is replaced, in the target's folder. An existing file's permission bits are kept;
// a new one gets 0666 less the umask.
//   path   the file to write
//   bytes  its new contents
//   force  replace an existing file that the user may not write to (otherwise refused, as cp
//          does, with kWriteProtected)
//   error  the reason, when false is returned; kNoSpace when the file system is full
bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes, bool force,
                         FileError& error);

// The outcome of DehazeFile.
struct Outcome {
  enum class Status {
    kWritten,     // the result (and the map, if asked) was written
    kNothingToDo, // the thickness is below 0.1: nothing was dehazed or written
    kUnreadable,  // the source could not be decoded (the single form says "Can't read image")
    kWriteProtected,  // the result exists and may not be written; `force` replaces it
    kNoSpace,     // the result's file system is full: later results would fail as well
    kFailed,      // anything else went wrong; nothing was written
  };
  Status status = Status::kFailed;
  std::string error;   // when not written: one line naming the file it is about
  std::string note;    // when written: one line about metadata that could not be kept, or ""
  double seconds = -1; // the pipeline's own time (DehazeCPU), or -1 when it did not run
  int cols = 0;        // the source's size, once decoded
  int rows = 0;
};

// The single form as one call: read, check, dehaze, encode, write, and the transmission
// map (an 8-bit grey picture, t * 255 rounded: 255 clear, 0 opaque haze) when asked.
// Never throws: library errors (out of memory) become kFailed.
//   source                 the source file
//   result                 the result file; its extension chooses the format
//   thickness              from ParseThickness (the range is checked there), in [0.01, 1]
//   options                the output options
//   transmission_map_path  where to write the map, or "" for none
//   force                  as for WriteFileAtomically
//   look                   the tone adjustment's look (from ParseLook); the map does not depend on it
Outcome DehazeFile(const std::string& source, const std::string& result, float thickness,
                   const OutputOptions& options, const std::string& transmission_map_path = "",
                   bool force = false, Look look = Look::kClassic);

}  // namespace vantorel
