#include "video/clip_reader.h"

#include <cstdarg>
#include <cstring>
#include <mutex>

#include <sys/stat.h>

namespace vantorel {

namespace {

// An FFV1 decoder hides a slice whose checksum fails (it takes the previous frame's) and
// flags nothing on the frame: its error message is the only sign. A reader watches its own
// decoder's messages, on its own thread, while it hands the decoder a packet.
thread_local const void* watched_decoder = nullptr;
thread_local int errors_seen = 0;

void CountWatchedErrors(void* context, int level, const char* format, va_list arguments) {
  if (context != nullptr && context == watched_decoder && level <= AV_LOG_ERROR) ++errors_seen;
  av_log_default_callback(context, level, format, arguments);
}

}  // namespace

void SilenceFfmpegLog() {
  static std::once_flag silenced;
  std::call_once(silenced, [] {
    av_log_set_level(AV_LOG_QUIET);
    av_log_set_callback(CountWatchedErrors);
  });
}

namespace {

// The image demuxers (image2, and the "*_pipe" ones for single pictures) read pictures.
bool IsPictureDemuxer(const AVInputFormat* format) {
  const std::string name = format->name;
  return name == "image2" || (name.size() > 5 && name.compare(name.size() - 5, 5, "_pipe") == 0) ||
         name == "webp_pipe";
}

int FirstMovingVideo(const AVFormatContext* input) {
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream* stream = input->streams[i];
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool OpenInput(const std::string& path, InputContext& input, std::string& error) {
  // Only regular files: a FIFO or a device could hold the reader for good.
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    error = "not a regular file";
    return false;
  }
  // A name is a file's name, never a protocol ("http:", "pipe:", "concat:"), and what the
  // file refers to may only be other local files.
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  AVFormatContext* raw = nullptr;
  const int code = avformat_open_input(&raw, ("file:" + path).c_str(), nullptr, &options);
  av_dict_free(&options);
  if (code == AVERROR_EOF) {
    error = "it ends before its first frame (cut off, or no frames)";
    return false;
  }
  if (code < 0) {
    error = "not a clip that can be read (" + AvErrorText(code) + ")";
    return false;
  }
  input.reset(raw);
  return true;
}

}  // namespace

bool LooksLikeClip(const std::string& path) {
  SilenceFfmpegLog();
  InputContext input;
  std::string error;
  if (!OpenInput(path, input, error) || IsPictureDemuxer(input->iformat)) return false;
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return false;
  return FirstMovingVideo(input.get()) >= 0;
}

bool ClipReader::Open(const std::string& path, std::string& error) {
  SilenceFfmpegLog();
  if (!frame_ || !packet_) throw std::bad_alloc();
  if (!OpenInput(path, input_, error)) return false;
  if (IsPictureDemuxer(input_->iformat)) {
    error = "a still picture, not a clip";
    return false;
  }
  const int code = avformat_find_stream_info(input_.get(), nullptr);
  if (code < 0) {
    error = "cannot read the clip's streams (" + AvErrorText(code) + ")";
    return false;
  }
  video_index_ = FirstMovingVideo(input_.get());
  if (video_index_ < 0) {
    error = "no video stream";
    return false;
  }
  const AVStream* stream = input_->streams[video_index_];
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr) {
    error = std::string("its video codec (") + avcodec_get_name(stream->codecpar->codec_id) +
            ") cannot be decoded by this build";
    return false;
  }
  decoder_.reset(avcodec_alloc_context3(codec));
  if (!decoder_) throw std::bad_alloc();
  avcodec_parameters_to_context(decoder_.get(), stream->codecpar);
  decoder_->pkt_timebase = stream->time_base;
  // One thread keeps far ahead of the engine; more would each hold frames of their own.
  decoder_->thread_count = 1;
  const int opened = avcodec_open2(decoder_.get(), codec, nullptr);
  if (opened < 0) {
    error = std::string("its video codec (") + codec->name + ") cannot be opened (" + AvErrorText(opened) + ")";
    return false;
  }
  if (decoder_->width <= 0 || decoder_->height <= 0) {
    error = "the video stream has no frame size";
    return false;
  }
  return true;
}

int64_t ClipReader::ExpectedFrames() const {
  const AVStream* stream = VideoStream();
  if (stream->nb_frames > 0) return stream->nb_frames;
  const AVRational rate = av_guess_frame_rate(input_.get(), const_cast<AVStream*>(stream), nullptr);
  if (input_->duration > 0 && rate.num > 0 && rate.den > 0) {
    return static_cast<int64_t>(static_cast<double>(input_->duration) / AV_TIME_BASE * av_q2d(rate) + 0.5);
  }
  return 0;
}

bool ClipReader::ConvertFrame(const AVFrame* frame, std::vector<unsigned char>& bgr, std::string& error) {
  if (frame->width != decoder_->width || frame->height != decoder_->height) {
    error = "the frame size changes within the clip";
    return false;
  }
  bgr.resize(static_cast<size_t>(frame->width) * static_cast<size_t>(frame->height) * 3);
  return to_bgr_.Convert(frame, bgr.data(), error);
}

bool ClipReader::ReceiveFrame(std::vector<unsigned char>& frame_buffer, ClipItem& item, std::string& error,
                              bool& got) {
  got = false;
  const int code = avcodec_receive_frame(decoder_.get(), frame_.get());
  if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
  if (code < 0) {
    ++damaged_;
    return true;
  }
  if (frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT) || hidden_damage_) {
    hidden_damage_ = false;
    ++damaged_;
    av_frame_unref(frame_.get());
    return true;
  }
  item.kind = ClipItem::Kind::kFrame;
  item.bgr = &frame_buffer;
  item.pts = frame_->best_effort_timestamp != AV_NOPTS_VALUE ? frame_->best_effort_timestamp : next_pts_;
  item.duration = frame_->pkt_duration;
  next_pts_ = item.pts + (item.duration > 0 ? item.duration : 1);
  const bool converted = ConvertFrame(frame_.get(), frame_buffer, error);
  av_frame_unref(frame_.get());
  got = converted;
  return converted;
}

bool ClipReader::Next(std::vector<unsigned char>& frame_buffer, ClipItem& item, std::string& error) {
  for (;;) {
    bool got = false;
    if (!ReceiveFrame(frame_buffer, item, error, got)) return false;
    if (got) return true;
    if (draining_) return false;

    const int code = av_read_frame(input_.get(), packet_.get());
    if (code == AVERROR_EOF || code == AVERROR(EIO) || code == AVERROR_INVALIDDATA) {
      // The end, or a file cut off: what is stored is decoded, the rest is lost.
      draining_ = true;
      avcodec_send_packet(decoder_.get(), nullptr);
      continue;
    }
    if (code < 0) {
      error = "reading failed (" + AvErrorText(code) + ")";
      return false;
    }
    if (packet_->stream_index != video_index_) {
      item.kind = ClipItem::Kind::kPacket;
      item.packet.reset(av_packet_clone(packet_.get()));
      av_packet_unref(packet_.get());
      if (!item.packet) throw std::bad_alloc();
      return true;
    }
    // FFV1 decodes every frame on its own, as its packet is sent: an error it reports
    // then is about the frame received next.
    const bool watched = decoder_->codec_id == AV_CODEC_ID_FFV1;
    if (watched) {
      watched_decoder = decoder_.get();
      errors_seen = 0;
    }
    const int sent = avcodec_send_packet(decoder_.get(), packet_.get());
    if (watched) {
      watched_decoder = nullptr;
      hidden_damage_ = errors_seen > 0 && sent >= 0;
    }
    av_packet_unref(packet_.get());
    if (sent < 0 && sent != AVERROR(EAGAIN)) ++damaged_;
  }
}

}  // namespace vantorel
