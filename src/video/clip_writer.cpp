#include "video/clip_writer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <opencv2/core.hpp>

#include "vantorel/dehaze.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace vantorel {

namespace {

void CopySideData(const AVStream* from, AVStream* to, bool with_display_matrix) {
  for (int i = 0; i < from->nb_side_data; ++i) {
    const AVPacketSideData& side = from->side_data[i];
    if (side.type == AV_PKT_DATA_DISPLAYMATRIX && !with_display_matrix) continue;
    uint8_t* copy = av_stream_new_side_data(to, side.type, side.size);
    if (copy == nullptr) throw std::bad_alloc();
    std::memcpy(copy, side.data, side.size);
  }
}

void CopyStreamTags(const AVStream* from, AVStream* to, bool with_display_matrix = true) {
  av_dict_copy(&to->metadata, from->metadata, 0);
  to->disposition = from->disposition;
  CopySideData(from, to, with_display_matrix);
}

// Matroska (and so webm) keeps no display matrix: FFmpeg 5.1's muxer drops it.
bool StoresDisplayMatrix(const std::string& container) { return container != "mkv" && container != "webm"; }

// The quarter turns clockwise that the video's display matrix asks for on screen (as the
// ffmpeg program turns a clip it decodes): 0 to 3, 0 also without a matrix, and -1 for a
// matrix that is not a turn by quarters (a mirror, another angle, a shear). The matrix's
// translation is left aside, as players leave it.
int QuarterTurnsOf(const AVStream* video) {
  size_t size = 0;
  const uint8_t* data = av_stream_get_side_data(video, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (data == nullptr || size < 9 * sizeof(int32_t)) return 0;
  int32_t matrix[9];
  std::memcpy(matrix, data, sizeof matrix);
  for (int turns = 0; turns < 4; ++turns) {
    int32_t turn[9];
    av_display_rotation_set(turn, 90.0 * turns);  // the matrix that shows frames turned so
    if (matrix[0] == turn[0] && matrix[1] == turn[1] && matrix[3] == turn[3] && matrix[4] == turn[4] &&
        matrix[2] == 0 && matrix[5] == 0 && matrix[8] == turn[8]) {
      return turns;
    }
  }
  return -1;
}

AVPixelFormat EncodedPixelFormat(const std::string& codec) {
  return codec == "ffv1" ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_YUV420P;
}

}  // namespace

ClipWriter::~ClipWriter() {
  if (output_ != nullptr) {
    avio_closep(&output_->pb);
    avformat_free_context(output_);
  }
}

bool ClipWriter::OpenEncoder(const ClipReader& source, const VideoEncoding& encoding, std::string& error) {
  const AVCodec* codec = avcodec_find_encoder_by_name(EncoderName(encoding.codec));
  if (codec == nullptr) {
    error = std::string("this build has no ") + EncoderName(encoding.codec) + " encoder";
    return false;
  }
  encoder_.reset(avcodec_alloc_context3(codec));
  if (!encoder_) throw std::bad_alloc();
  const AVCodecContext* decoder = source.Decoder();
  const AVStream* in = source.VideoStream();
  AVCodecContext* e = encoder_.get();
  source_rows_ = source.Rows();
  source_cols_ = source.Cols();
  // Where the container cannot say how to turn the frames, they are stored turned.
  const bool sideways = quarter_turns_ % 2 == 1;
  e->width = sideways ? source.Rows() : source.Cols();
  e->height = sideways ? source.Cols() : source.Rows();
  e->pix_fmt = EncodedPixelFormat(encoding.codec);
  e->time_base = in->time_base;
  e->framerate = av_guess_frame_rate(const_cast<AVFormatContext*>(source.Format()), const_cast<AVStream*>(in), nullptr);
  e->sample_aspect_ratio = decoder->sample_aspect_ratio;
  if (sideways && e->sample_aspect_ratio.num > 0) {
    e->sample_aspect_ratio = AVRational{e->sample_aspect_ratio.den, e->sample_aspect_ratio.num};
  }
  e->color_primaries = decoder->color_primaries;
  e->color_trc = decoder->color_trc;
  if (encoding.codec == "ffv1") {
    e->colorspace = AVCOL_SPC_RGB;
    e->color_range = AVCOL_RANGE_JPEG;
  } else {
    // The source's matrix and range; an RGB source's frames become BT.709 limited range.
    const bool rgb_source = decoder->colorspace == AVCOL_SPC_RGB;
    e->colorspace = rgb_source ? AVCOL_SPC_BT709 : decoder->colorspace;
    e->color_range = rgb_source ? AVCOL_RANGE_MPEG : decoder->color_range;
  }
  if (output_->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

  // The encoder shares the process's threads with the engine rather than starting its own
  // count: its default on 2 cores is 3 frame threads, each holding frames (x264 at 1080p:
  // 338 MB with 2 threads, 367 MB with its default, measured with the ffmpeg program).
  e->thread_count = ThreadCount();
  AVDictionary* options = nullptr;
  const std::string crf = std::to_string(encoding.crf);
  if (encoding.codec == "h264" || encoding.codec == "h265") {
    av_dict_set(&options, "crf", crf.c_str(), 0);
    av_dict_set(&options, "preset", encoding.preset.c_str(), 0);
    // The look-ahead is held to 15 frames: the medium preset's 40 alone holds about 500 MB
    // at 1080p. Each frame of it holds about 6.5 MB (the ffmpeg program, 2 threads: 338 MB
    // with 20, 273 MB with 10); with two frames in the engine at once, 15 keeps a 1080p clip
    // with sound under 500 MB (477 MB measured; 510 MB with 20).
    if (encoding.codec == "h264") av_dict_set(&options, "x264-params", "rc-lookahead=15", 0);
    if (encoding.codec == "h265") av_dict_set(&options, "x265-params", "log-level=error:rc-lookahead=15", 0);
  } else if (encoding.codec == "vp9") {
    av_dict_set(&options, "crf", crf.c_str(), 0);
    av_dict_set(&options, "b", "0", 0);
    av_dict_set(&options, "row-mt", "1", 0);
    av_dict_set(&options, "cpu-used", std::to_string(Vp9Speed(encoding.preset)).c_str(), 0);
  } else {
    av_dict_set(&options, "level", "3", 0);
    av_dict_set(&options, "slicecrc", "1", 0);
  }
  const int opened = avcodec_open2(e, codec, &options);
  av_dict_free(&options);
  if (opened < 0) {
    error = std::string("cannot start the ") + EncoderName(encoding.codec) + " encoder (" + AvErrorText(opened) + ")";
    return false;
  }

  AVStream* out = avformat_new_stream(output_, nullptr);
  if (out == nullptr) throw std::bad_alloc();
  avcodec_parameters_from_context(out->codecpar, e);
  out->time_base = in->time_base;
  out->avg_frame_rate = in->avg_frame_rate;
  CopyStreamTags(in, out, StoresDisplayMatrix(encoding.container));
  // The old encoder's name and settings no longer describe the stream.
  av_dict_set(&out->metadata, "encoder", nullptr, 0);
  av_dict_set(&out->metadata, "BPS", nullptr, 0);
  av_dict_set(&out->metadata, "NUMBER_OF_BYTES", nullptr, 0);
  av_dict_set(&out->metadata, "_STATISTICS_TAGS", nullptr, 0);
  av_dict_set(&out->metadata, "_STATISTICS_WRITING_APP", nullptr, 0);
  av_dict_set(&out->metadata, "_STATISTICS_WRITING_DATE_UTC", nullptr, 0);
  video_output_ = out->index;
  video_time_base_ = in->time_base;
  stream_map_[source.VideoIndex()] = video_output_;

  frame_->format = e->pix_fmt;
  frame_->width = e->width;
  frame_->height = e->height;
  if (av_frame_get_buffer(frame_.get(), 0) < 0) throw std::bad_alloc();
  scaler_.reset(sws_getContext(e->width, e->height, AV_PIX_FMT_BGR24, e->width, e->height, e->pix_fmt,
                               SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr));
  if (!scaler_) throw std::bad_alloc();
  if (quarter_turns_ > 0) turned_.create(e->height, e->width, CV_8UC3);
  if (encoding.codec != "ffv1") {
    const int* matrix = sws_getCoefficients(e->colorspace);
    sws_setColorspaceDetails(scaler_.get(), matrix, 1, matrix, e->color_range == AVCOL_RANGE_JPEG ? 1 : 0, 0,
                             1 << 16, 1 << 16);
  }
  return true;
}

bool ClipWriter::CopyStreams(const ClipReader& source, std::string& note, std::string& error) {
  const AVFormatContext* input = source.Format();
  int left_out = 0;
  std::string first_left_out;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream* in = input->streams[i];
    if (static_cast<int>(i) == source.VideoIndex()) continue;
    if (avformat_query_codec(output_->oformat, in->codecpar->codec_id, FF_COMPLIANCE_NORMAL) != 1) {
      if (left_out++ == 0) first_left_out = avcodec_get_name(in->codecpar->codec_id);
      continue;
    }
    AVStream* out = avformat_new_stream(output_, nullptr);
    if (out == nullptr) throw std::bad_alloc();
    if (avcodec_parameters_copy(out->codecpar, in->codecpar) < 0) throw std::bad_alloc();
    // The tag names the codec in the source's container; the result's muxer picks its own.
    out->codecpar->codec_tag = 0;
    out->time_base = in->time_base;
    CopyStreamTags(in, out);
    stream_map_[i] = out->index;
  }
  if (left_out > 0) {
    note = std::to_string(left_out) + " stream" + (left_out > 1 ? "s" : "") + " (" + first_left_out +
           (left_out > 1 ? ", ..." : "") + ") cannot be stored in " + output_->oformat->name + " and " +
           (left_out > 1 ? "are" : "is") + " left out";
  }
  (void)error;
  return true;
}

bool ClipWriter::Open(const std::string& path, const ClipReader& source, const VideoEncoding& encoding,
                      std::string& note, std::string& error) {
  if (!frame_ || !packet_) throw std::bad_alloc();
  const int allocated = avformat_alloc_output_context2(&output_, nullptr, MuxerName(encoding.container), path.c_str());
  if (allocated < 0 || output_ == nullptr) {
    error = "cannot write " + encoding.container + " (" + AvErrorText(allocated) + ")";
    return false;
  }
  const AVFormatContext* input = source.Format();
  stream_map_.assign(input->nb_streams, -1);
  for (unsigned i = 0; i < input->nb_streams; ++i) input_time_bases_.push_back(input->streams[i]->time_base);
  std::string matrix_note;
  if (!StoresDisplayMatrix(encoding.container)) {
    quarter_turns_ = QuarterTurnsOf(source.VideoStream());
    if (quarter_turns_ < 0) {
      quarter_turns_ = 0;
      matrix_note = "the display matrix (not a turn by quarters) cannot be stored in " + encoding.container +
                    " and is left out";
    }
  }
  if (!OpenEncoder(source, encoding, error) || !CopyStreams(source, note, error)) return false;
  if (!matrix_note.empty()) note = note.empty() ? matrix_note : note + "; " + matrix_note;
  // Matroska stores each frame's presentation time, which encoders that reorder frames keep
  // at the source's; the default shift that makes decoding times non-negative would move
  // every frame instead.
  if (encoding.container == "mkv" || encoding.container == "webm") {
    output_->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
  }
  av_dict_copy(&output_->metadata, input->metadata, 0);
  av_dict_set(&output_->metadata, "encoder", nullptr, 0);

  const int opened = avio_open(&output_->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
  if (opened < 0) {
    error = "cannot open the file (" + AvErrorText(opened) + ")";
    return false;
  }
  const int written = avformat_write_header(output_, nullptr);
  if (written < 0) {
    error = "cannot write the header (" + AvErrorText(written) + ")";
    return false;
  }
  header_written_ = true;
  return true;
}

bool ClipWriter::WriteFrame(const unsigned char* bgr, int64_t pts, int64_t duration, std::string& error) {
  if (av_frame_make_writable(frame_.get()) < 0) throw std::bad_alloc();
  if (quarter_turns_ > 0) {
    static constexpr cv::RotateFlags kTurns[] = {cv::ROTATE_90_CLOCKWISE, cv::ROTATE_180, cv::ROTATE_90_COUNTERCLOCKWISE};
    const cv::Mat frame(source_rows_, source_cols_, CV_8UC3, const_cast<unsigned char*>(bgr));
    cv::rotate(frame, turned_, kTurns[quarter_turns_ - 1]);
    bgr = turned_.data;
  }
  const uint8_t* planes[4] = {bgr, nullptr, nullptr, nullptr};
  const int strides[4] = {encoder_->width * 3, 0, 0, 0};
  sws_scale(scaler_.get(), planes, strides, 0, encoder_->height, frame_->data, frame_->linesize);
  frame_->pts = pts;
  frame_->pkt_duration = duration;
  if (duration > 0) durations_.emplace_back(pts, duration);
  const int sent = avcodec_send_frame(encoder_.get(), frame_.get());
  if (sent < 0) {
    error = "encoding failed (" + AvErrorText(sent) + ")";
    return false;
  }
  return Drain(error);
}

bool ClipWriter::Drain(std::string& error) {
  for (;;) {
    const int code = avcodec_receive_packet(encoder_.get(), packet_.get());
    if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
    if (code < 0) {
      error = "encoding failed (" + AvErrorText(code) + ")";
      return false;
    }
    if (packet_->duration <= 0) {
      const auto found = std::find_if(durations_.begin(), durations_.end(),
                                      [&](const std::pair<int64_t, int64_t>& d) { return d.first == packet_->pts; });
      if (found != durations_.end()) packet_->duration = found->second;
    }
    // Durations of frames already out of the encoder's reordering window are not needed.
    if (durations_.size() > 64) durations_.erase(durations_.begin(), durations_.begin() + 32);
    packet_->stream_index = video_output_;
    av_packet_rescale_ts(packet_.get(), video_time_base_, output_->streams[video_output_]->time_base);
    const int written = av_interleaved_write_frame(output_, packet_.get());
    if (written < 0) {
      error = "writing failed (" + AvErrorText(written) + ")";
      return false;
    }
  }
}

bool ClipWriter::WritePacket(AVPacket* packet, std::string& error) {
  const int input_index = packet->stream_index;
  if (input_index < 0 || input_index >= static_cast<int>(stream_map_.size()) || stream_map_[input_index] < 0) {
    return true;
  }
  const int output_index = stream_map_[input_index];
  packet->stream_index = output_index;
  av_packet_rescale_ts(packet, input_time_bases_[input_index], output_->streams[output_index]->time_base);
  packet->pos = -1;
  const int written = av_interleaved_write_frame(output_, packet);
  if (written < 0) {
    error = "writing failed (" + AvErrorText(written) + ")";
    return false;
  }
  return true;
}

bool ClipWriter::Finish(std::string& error) {
  const int sent = avcodec_send_frame(encoder_.get(), nullptr);
  if (sent < 0 && sent != AVERROR_EOF) {
    error = "encoding failed (" + AvErrorText(sent) + ")";
    return false;
  }
  if (!Drain(error)) return false;
  const int trailer = av_write_trailer(output_);
  if (trailer < 0) {
    error = "cannot finish the file (" + AvErrorText(trailer) + ")";
    return false;
  }
  const int closed = avio_closep(&output_->pb);
  if (closed < 0) {
    error = "cannot close the file (" + AvErrorText(closed) + ")";
    return false;
  }
  return true;
}

}  // namespace vantorel
