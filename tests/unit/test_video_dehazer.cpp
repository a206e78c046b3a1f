// A clip's frames: the exactness promises of the temporal averages (window 0, first frame,
// first after a cut or a reset, identical frames), and that the averages do act otherwise.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "imagedehaze/luma_histogram.h"
#include "imagedehaze/temporal_estimates.h"
#include "vantorel/dehaze.h"
#include "vantorel/video_dehazer.h"

namespace vantorel {
namespace {

constexpr int kCols = 96, kRows = 64;

cv::Mat Sample() {
  static const cv::Mat sample = cv::imread(VANTOREL_SOURCE_DIR "/samples/hazy_mountains.jpg", cv::IMREAD_COLOR);
  return sample;
}

// Frame k of a slow pan over the sample, with a white square crossing the lower left part.
cv::Mat PanFrame(int k) {
  const cv::Mat sample = Sample();
  cv::Mat scaled;
  cv::resize(sample, scaled, cv::Size(kCols * 2, kRows * 2), 0, 0, cv::INTER_AREA);
  cv::Mat frame = scaled(cv::Rect(2 * k, 10, kCols, kRows)).clone();
  cv::rectangle(frame, cv::Rect(4 * k, kRows - 20, 14, 14), cv::Scalar(255, 255, 255), cv::FILLED);
  return frame;
}

cv::Mat Single(const cv::Mat& frame, float thickness, Look look = Look::kClassic) {
  cv::Mat copy = frame.clone();
  DehazeOptions options;
  options.look = look;
  EXPECT_TRUE(DehazeCPU(copy.data, copy.cols, copy.rows, thickness, options));
  return copy;
}

cv::Mat Through(VideoDehazer& dehazer, const cv::Mat& frame) {
  cv::Mat copy = frame.clone();
  EXPECT_TRUE(dehazer.Process(copy.data, copy.cols, copy.rows));
  return copy;
}

bool SameBytes(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

TEST(VideoDehazer, WindowZeroGivesEveryFrameTheSinglePictureResult) {
  for (Look look : {Look::kClassic, Look::kNatural}) {
    VideoDehazer dehazer(0.8f, look, 0.0, 30.0);
    for (int k = 0; k < 8; ++k) {
      const cv::Mat frame = PanFrame(k);
      EXPECT_TRUE(SameBytes(Through(dehazer, frame), Single(frame, 0.8f, look))) << "frame " << k;
    }
  }
}

// The same changing clip with a window: the first frame is exact, later ones are not (the
// averages act), and a reset or a cut makes the next one exact again.
TEST(VideoDehazer, FreshStartsAreExactAndTheAveragesActOtherwise) {
  VideoDehazer dehazer(0.8f, Look::kClassic, 1.0, 30.0);
  EXPECT_TRUE(SameBytes(Through(dehazer, PanFrame(0)), Single(PanFrame(0), 0.8f)));
  EXPECT_TRUE(dehazer.LastFrameStartedScene());
  int differing = 0;
  for (int k = 1; k < 8; ++k) {
    differing += SameBytes(Through(dehazer, PanFrame(k)), Single(PanFrame(k), 0.8f)) ? 0 : 1;
    EXPECT_FALSE(dehazer.LastFrameStartedScene()) << "frame " << k;
  }
  EXPECT_GT(differing, 0);

  dehazer.Reset();
  EXPECT_TRUE(SameBytes(Through(dehazer, PanFrame(8)), Single(PanFrame(8), 0.8f)));

  // A cut to a dark, different scene.
  cv::Mat other = 255 - PanFrame(3);
  cv::GaussianBlur(other, other, cv::Size(0, 0), 3.0);
  other *= 0.4;
  Through(dehazer, PanFrame(9));
  EXPECT_TRUE(SameBytes(Through(dehazer, other), Single(other, 0.8f)));
  EXPECT_TRUE(dehazer.LastFrameStartedScene());

  // A frame of another size starts afresh too.
  const cv::Mat smaller = PanFrame(2)(cv::Rect(0, 0, 50, 40)).clone();
  EXPECT_TRUE(SameBytes(Through(dehazer, smaller), Single(smaller, 0.8f)));
}

TEST(VideoDehazer, IdenticalFramesGiveIdenticalResults) {
  VideoDehazer dehazer(0.6f, Look::kClassic, 2.5, 25.0);
  const cv::Mat frame = PanFrame(5);
  const cv::Mat expected = Single(frame, 0.6f);
  for (int k = 0; k < 6; ++k) {
    cv::Mat copy = frame.clone();
    ASSERT_TRUE(dehazer.Process(copy.data, copy.cols, copy.rows, 0.04 * k + (k == 3 ? 0.5 : 0.0)));
    EXPECT_TRUE(SameBytes(copy, expected)) << "frame " << k;
  }
}

// A white square in every other frame of a dim scene makes every whole-frame estimate jump
// (the largest sample, and with it the airlight, the profile and the tone). With the window
// the estimates move by a frame's weight only, and the mean of the part the square never
// comes near (more than three smoothing scales away) changes far less from frame to frame.
TEST(VideoDehazer, TheWindowSteadiesTheMeanOfAStillPart) {
  const int cols = 320, rows = 240;
  cv::Mat base;
  cv::resize(Sample(), base, cv::Size(cols * 2, rows * 2), 0, 0, cv::INTER_AREA);
  base = base(cv::Rect(0, 20, cols, rows)).clone() * 0.7;
  const cv::Rect still(0, 0, cols, 80);
  VideoDehazer steady(0.8f, Look::kClassic, 1.0, 30.0), alone(0.8f, Look::kClassic, 0.0, 30.0);
  double steady_change = 0.0, alone_change = 0.0, steady_last = 0.0, alone_last = 0.0;
  for (int k = 0; k < 10; ++k) {
    cv::Mat frame = base.clone();
    if (k % 2 == 1) cv::rectangle(frame, cv::Rect(20 * k, rows - 60, 50, 50), cv::Scalar(255, 255, 255), cv::FILLED);
    const double s = cv::mean(Through(steady, frame)(still))[1];
    const double a = cv::mean(Through(alone, frame)(still))[1];
    if (k > 0) {
      steady_change = std::max(steady_change, std::fabs(s - steady_last));
      alone_change = std::max(alone_change, std::fabs(a - alone_last));
    }
    steady_last = s;
    alone_last = a;
  }
  EXPECT_GT(alone_change, 50.0);
  EXPECT_LT(steady_change, alone_change / 4.0);
}

TEST(VideoDehazer, RefusedSettingsAndArgumentsTouchNothing) {
  const cv::Mat frame = PanFrame(1);
  for (VideoDehazer* dehazer : {new VideoDehazer(0.0f), new VideoDehazer(0.5f, Look::kClassic, -1.0),
                                new VideoDehazer(0.5f, Look::kClassic, NAN),
                                new VideoDehazer(0.5f, Look::kClassic, 1.0, 0.0),
                                new VideoDehazer(1.5f, Look::kClassic, 1.0, INFINITY)}) {
    cv::Mat copy = frame.clone();
    EXPECT_FALSE(dehazer->Process(copy.data, copy.cols, copy.rows));
    EXPECT_TRUE(SameBytes(copy, frame));
    delete dehazer;
  }
  VideoDehazer accepted(0.5f);
  cv::Mat copy = frame.clone();
  EXPECT_FALSE(accepted.Process(copy.data, 0, copy.rows));
  EXPECT_FALSE(accepted.Process(nullptr, 4, 4));
  EXPECT_TRUE(SameBytes(copy, frame));
}

TEST(TemporalEstimates, WeightsAndFollowing) {
  EXPECT_EQ(FrameWeight(1.0 / 30.0, 0.0), 1.0);
  EXPECT_NEAR(FrameWeight(1.0, 1.0), 1.0 - std::exp(-1.0), 1e-15);
  EXPECT_NEAR(FrameWeight(0.5, 2.0), 1.0 - std::exp(-0.25), 1e-15);

  TemporalEstimates estimates;
  estimates.SetWeight(0.25);
  EXPECT_EQ(estimates.Divisor(200.0), 200.0);  // nothing known yet: as measured
  EXPECT_EQ(estimates.Divisor(240.0), 210.0);
  EXPECT_EQ(estimates.Divisor(210.0), 210.0);
  estimates.SetWeight(1.0);
  EXPECT_EQ(estimates.Divisor(17.0), 17.0);
  estimates.Clear();
  estimates.SetWeight(0.5);
  float log_average = 0.3f;
  int top = 200;
  estimates.ToneLevels(log_average, top);
  EXPECT_EQ(log_average, 0.3f);
  EXPECT_EQ(top, 200);
  log_average = 0.4f;
  top = 205;
  estimates.ToneLevels(log_average, top);
  EXPECT_FLOAT_EQ(log_average, 0.35f);
  EXPECT_EQ(top, 203);  // 202.5 rounded half away from zero
  float black = 0.1f, white = 0.9f;
  estimates.BlackAndWhite(black, white);
  black = 0.3f;
  white = 0.7f;
  estimates.BlackAndWhite(black, white);
  EXPECT_FLOAT_EQ(black, 0.2f);
  EXPECT_FLOAT_EQ(white, 0.8f);
}

TEST(LumaHistogram, SharesAndDistances) {
  cv::Mat half(4, 8, CV_8UC3, cv::Scalar(0, 0, 0));
  half.at<cv::Vec3b>(3, 7) = cv::Vec3b(15, 15, 15);  // luma 14, the first bin still
  half(cv::Rect(0, 0, 4, 4)).setTo(cv::Scalar(255, 255, 255));
  const LumaHistogram h = MeasureLumaHistogram(half.data, 8, 4);
  EXPECT_EQ(h[0], 0.5);
  EXPECT_EQ(h[kLumaBins - 1], 0.5);
  const cv::Mat black(4, 8, CV_8UC3, cv::Scalar(0, 0, 0));
  const LumaHistogram dark = MeasureLumaHistogram(black.data, 8, 4);
  EXPECT_EQ(HistogramDistance(h, h), 0.0);
  EXPECT_DOUBLE_EQ(HistogramDistance(h, dark), 0.5);
  LumaHistogram running = dark;
  FollowHistogram(h, 0.5, running);
  EXPECT_DOUBLE_EQ(running[0], 0.75);
  EXPECT_DOUBLE_EQ(running[kLumaBins - 1], 0.25);
}

}  // namespace
}  // namespace vantorel
