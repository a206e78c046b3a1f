// Writing a clip's result: the dehazed frames encoded as asked, every other stream of the
// source copied packet for packet, the container's and streams' metadata, side data (the
// display matrix) and timestamps kept, and the source's colour tags on the new video. Where
// the container cannot store the display matrix (mkv, webm) and it asks for a turn by
// quarters, the frames are stored turned, so that the result shows as the source does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "video/clip_reader.h"
#include "video/video_encoding.h"

namespace vantorel {

class ClipWriter {
 public:
  ClipWriter() = default;
  ~ClipWriter();
  ClipWriter(const ClipWriter&) = delete;
  ClipWriter& operator=(const ClipWriter&) = delete;

  // Sets up the result at `path` (created or truncated) for `source`, and writes its header.
  // `note` receives a line about streams the container cannot hold (left out) and a
  // display matrix it cannot store, or "".
  bool Open(const std::string& path, const ClipReader& source, const VideoEncoding& encoding,
            std::string& note, std::string& error);

  // One dehazed frame (rows x cols BGR, packed) at `pts` in the source's video time base.
  bool WriteFrame(const unsigned char* bgr, int64_t pts, int64_t duration, std::string& error);

  // A packet of another stream, as the reader gave it.
  bool WritePacket(AVPacket* packet, std::string& error);

  // Drains the encoder, writes the trailer and closes the file.
  bool Finish(std::string& error);

 private:
  bool OpenEncoder(const ClipReader& source, const VideoEncoding& encoding, std::string& error);
  bool CopyStreams(const ClipReader& source, std::string& note, std::string& error);
  bool Drain(std::string& error);

  AVFormatContext* output_ = nullptr;
  CodecContext encoder_;
  Scaler scaler_;
  FramePtr frame_{av_frame_alloc()};
  PacketPtr packet_{av_packet_alloc()};
  std::vector<int> stream_map_;  // input stream -> output stream, -1 when left out
  std::vector<AVRational> input_time_bases_;
  int video_output_ = -1;
  AVRational video_time_base_{1, 1};
  // Frame durations by pts: encoders do not always pass them on to their packets.
  std::vector<std::pair<int64_t, int64_t>> durations_;
  bool header_written_ = false;
  int source_rows_ = 0, source_cols_ = 0;
  int quarter_turns_ = 0;  // clockwise, applied to every frame before it is encoded
  cv::Mat turned_;         // the turned frame
};

}  // namespace vantorel
