// A decoded frame into BGR by way of planar RGB gives the same samples as the library's
// conversion straight to packed BGR with the same options, for the pixel formats clips
// come in, full and limited range, several matrices and awkward sizes; grey frames keep
// their range, which the direct conversion did not.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "video/frame_to_bgr.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace vantorel {
namespace {

// A frame of random samples; samples of more than 8 bits stay within their depth.
FramePtr RandomFrame(AVPixelFormat format, int cols, int rows, AVColorRange range, AVColorSpace matrix,
                     unsigned seed) {
  FramePtr frame(av_frame_alloc());
  frame->format = format;
  frame->width = cols;
  frame->height = rows;
  frame->color_range = range;
  frame->colorspace = matrix;
  EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  std::mt19937 random(seed);
  for (int c = 0; c < d->nb_components; ++c) {
    const AVComponentDescriptor& component = d->comp[c];
    const int plane_rows = (c == 1 || c == 2) ? AV_CEIL_RSHIFT(rows, d->log2_chroma_h) : rows;
    const int plane_cols = (c == 1 || c == 2) ? AV_CEIL_RSHIFT(cols, d->log2_chroma_w) : cols;
    for (int y = 0; y < plane_rows; ++y) {
      uint8_t* line = frame->data[component.plane] + static_cast<size_t>(y) * frame->linesize[component.plane];
      for (int x = 0; x < plane_cols; ++x) {
        const unsigned value = random() & ((1u << component.depth) - 1);
        uint8_t* at = line + x * component.step + component.offset;
        if (component.depth > 8) {
          const uint16_t sample = static_cast<uint16_t>(value << component.shift);
          std::memcpy(at, &sample, 2);
        } else {
          *at = static_cast<uint8_t>(value);
        }
      }
    }
  }
  return frame;
}

// The library's conversion straight to packed BGR.
std::vector<unsigned char> DirectBgr(const AVFrame* frame) {
  Scaler scaler(sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                               frame->width, frame->height, AV_PIX_FMT_BGR24, kToRgbFlags, nullptr, nullptr,
                               nullptr));
  EXPECT_TRUE(scaler);
  UseFrameColour(scaler.get(), frame);
  std::vector<unsigned char> bgr(static_cast<size_t>(frame->width) * frame->height * 3);
  uint8_t* planes[4] = {bgr.data(), nullptr, nullptr, nullptr};
  int strides[4] = {frame->width * 3, 0, 0, 0};
  sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
  return bgr;
}

TEST(FrameToBgr, SameSamplesAsTheDirectConversion) {
  const AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P,   AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV422P,
                                   AV_PIX_FMT_YUV444P,   AV_PIX_FMT_NV12,     AV_PIX_FMT_YUV420P10LE,
                                   AV_PIX_FMT_YUV444P10LE, AV_PIX_FMT_GBRP,   AV_PIX_FMT_RGB24,
                                   AV_PIX_FMT_BGR0};
  struct Size {
    int cols, rows;
  };
  const Size sizes[] = {{1920, 1080}, {97, 61}, {2, 2}};
  const AVColorSpace matrices[] = {AVCOL_SPC_UNSPECIFIED, AVCOL_SPC_BT709};
  const AVColorRange ranges[] = {AVCOL_RANGE_MPEG, AVCOL_RANGE_JPEG};
  unsigned seed = 1;
  FrameToBgr convert;  // one converter for every case: it must follow each change
  for (const AVPixelFormat format : formats) {
    for (const Size size : sizes) {
      for (const AVColorSpace matrix : matrices) {
        for (const AVColorRange range : ranges) {
          FramePtr frame = RandomFrame(format, size.cols, size.rows, range, matrix, seed++);
          std::vector<unsigned char> bgr(static_cast<size_t>(size.cols) * size.rows * 3);
          std::string error;
          FrameToBgr fresh;  // and a converter made for this frame alone
          std::vector<unsigned char> alone(bgr.size());
          ASSERT_TRUE(convert.Convert(frame.get(), bgr.data(), error)) << error;
          ASSERT_TRUE(fresh.Convert(frame.get(), alone.data(), error)) << error;
          const std::vector<unsigned char> direct = DirectBgr(frame.get());
          EXPECT_TRUE(bgr == direct && alone == direct)
              << av_get_pix_fmt_name(format) << " " << size.cols << "x" << size.rows << " matrix " << matrix
              << " range " << range;
        }
      }
    }
  }
}

// Grey frames: straight to packed BGR the library ignores a limited range (level 16 stays
// 16); by way of planar RGB the range is honoured, black at 16 and white at 235.
TEST(FrameToBgr, GreyFramesHonourTheirRange) {
  const int levels[] = {0, 16, 17, 126, 235, 255};
  const int limited[] = {0, 0, 1, 128, 255, 255};  // (level - 16) * 255 / 219, rounded
  for (const AVColorRange range : {AVCOL_RANGE_MPEG, AVCOL_RANGE_JPEG}) {
    FramePtr frame = RandomFrame(AV_PIX_FMT_GRAY8, 6, 1, range, AVCOL_SPC_UNSPECIFIED, 1);
    for (int i = 0; i < 6; ++i) frame->data[0][i] = static_cast<uint8_t>(levels[i]);
    unsigned char bgr[18];
    std::string error;
    FrameToBgr convert;
    ASSERT_TRUE(convert.Convert(frame.get(), bgr, error)) << error;
    for (int i = 0; i < 6; ++i) {
      const int expected = range == AVCOL_RANGE_MPEG ? limited[i] : levels[i];
      for (int k = 0; k < 3; ++k) EXPECT_EQ(bgr[3 * i + k], expected) << "level " << levels[i] << " range " << range;
    }
  }
}

}  // namespace
}  // namespace vantorel
