// Reading a clip: its video stream decoded frame by frame into 8-bit BGR, converted with the
// source's own matrix and range, and every other stream's packets as they are stored, all in
// the file's order.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "video/ffmpeg_handles.h"
#include "video/frame_to_bgr.h"

namespace vantorel {

// One step of the file: a decoded frame, or a packet of another stream.
struct ClipItem {
  enum class Kind { kFrame, kPacket };
  Kind kind = Kind::kFrame;
  // kFrame: the frame's pixels in the buffer the caller handed to Next (rows x cols x 3) and
  // its time in the video stream's time base.
  std::vector<unsigned char>* bgr = nullptr;
  int64_t pts = 0;
  int64_t duration = 0;  // 0 when the file does not say
  // kPacket: the packet as read, with the input's stream index and time base.
  PacketPtr packet;
};

class ClipReader {
 public:
  // Opens the file and its video decoder. False with a one-line reason (without the file's
  // name) when it is not a clip this build can decode.
  bool Open(const std::string& path, std::string& error);

  const AVFormatContext* Format() const { return input_.get(); }
  const AVStream* VideoStream() const { return input_->streams[video_index_]; }
  int VideoIndex() const { return video_index_; }
  int Cols() const { return decoder_->width; }
  int Rows() const { return decoder_->height; }
  // The decoder's view of the colour: range, primaries, transfer and matrix.
  const AVCodecContext* Decoder() const { return decoder_.get(); }
  // The number of frames the container announces, or an estimate from its duration; 0 when
  // neither is known.
  int64_t ExpectedFrames() const;

  // The next item in file order. A frame is converted into `frame_buffer` (resized once to
  // the frame's size). False at the end of the file; with `error` set when reading failed
  // for another reason than damaged data.
  bool Next(std::vector<unsigned char>& frame_buffer, ClipItem& item, std::string& error);

  // Packets or frames the decoder reported as damaged so far (for FFV1, also frames it
  // mended from the previous one after a slice's checksum failed).
  int Damaged() const { return damaged_; }

 private:
  bool ConvertFrame(const AVFrame* frame, std::vector<unsigned char>& bgr, std::string& error);
  bool ReceiveFrame(std::vector<unsigned char>& frame_buffer, ClipItem& item, std::string& error, bool& got);

  InputContext input_;
  CodecContext decoder_;
  FrameToBgr to_bgr_;
  FramePtr frame_{av_frame_alloc()};
  PacketPtr packet_{av_packet_alloc()};
  int video_index_ = -1;
  bool draining_ = false;  // the end of the file was reached; the decoder gives what it holds
  int64_t next_pts_ = 0;   // for frames without a timestamp
  int damaged_ = 0;
  bool hidden_damage_ = false;  // the decoder reported damage it hid in the next frame
};

// Whether libavformat finds in the file a video stream that is not a still picture (a
// picture file, or a cover picture attached to a sound file).
bool LooksLikeClip(const std::string& path);

}  // namespace vantorel
