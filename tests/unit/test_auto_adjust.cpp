// Automatic tone adjustment: the worked ramp, depth handling, exposure caps, the chroma
// step and the degenerate histograms.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "imagedehaze/auto_adjust.h"
#include "imagedehaze/tone_apply.h"
#include "imagedehaze/tone_curve.h"
#include "test_pictures.h"

namespace vantorel {
namespace {

cv::Mat RandomImage(int rows, int cols, int type, double low, double high, uint64 seed) {
  cv::Mat image(rows, cols, type);
  cv::RNG rng(seed);
  rng.fill(image, cv::RNG::UNIFORM, low, high);
  return image;
}

bool SameValues(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() &&
         cv::norm(a.reshape(1), b.reshape(1), cv::NORM_INF) == 0.0;
}

void ExpectAllFinite(const cv::Mat& image) {
  cv::Mat values;
  image.reshape(1).convertTo(values, CV_32F);
  EXPECT_TRUE(cv::checkRange(values)) << "non-finite value in the result";
}

TEST(MeasureLuminance, CountsRoundedLevels) {
  const std::vector<float> values = {0.0f, 0.49f / 255.0f, 0.51f / 255.0f, 1.0f / 255.0f,
                                     0.5f, 0.998f,         1.0f,           1.0f};
  const std::array<int, kToneLevels> hist = MeasureLuminance(values.data(), values.size()).histogram;
  EXPECT_EQ(hist[0], 2);
  EXPECT_EQ(hist[1], 2);
  EXPECT_EQ(hist[128], 1);  // 127.5 + 0.5
  EXPECT_EQ(hist[254], 1);  // 254.49 + 0.5 truncates down
  EXPECT_EQ(hist[255], 2);
  int total = 0;
  for (int count : hist) total += count;
  EXPECT_EQ(total, static_cast<int>(values.size()));
}

TEST(MeasureLuminance, ValuesOutsideTheUnitRangeLandInTheEndBins) {
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> values = {-1.0f, -0.003f, -inf, 2.0f, 1e30f, NAN, 0.5f};
  const LuminanceStatistics statistics = MeasureLuminance(values.data(), values.size());
  EXPECT_EQ(statistics.histogram[0], 3);
  EXPECT_EQ(statistics.histogram[255], 3);
  EXPECT_EQ(statistics.largest, 1e30f);  // NaN passed over
  const std::vector<float> negative = {-1.0f, NAN, -0.5f};
  EXPECT_EQ(MeasureLuminance(negative.data(), negative.size()).largest, 0.0f);
}

TEST(ToneCurve, RampWorkedExample) {
  const ToneCurve curve = ComputeToneCurve(Ramp200());
  EXPECT_NEAR(curve.log_average, 0.35964f, 5e-6);
  EXPECT_NEAR(curve.exposure, 1.00099f, 5e-6);
  EXPECT_EQ(curve.top, 255);
  EXPECT_EQ(curve.lo, 1);
  EXPECT_EQ(curve.hi, 254);
  EXPECT_NEAR(curve.black, 0.0070347f, 5e-8);
  EXPECT_EQ(curve.white, 1.0f);  // T[254] / 0.9 is above T[255]
  EXPECT_TRUE(curve.stretchable);
  EXPECT_EQ(curve.table[0], 0.0f);
  EXPECT_NEAR(curve.table[1], 0.00079f, 5e-6);
  EXPECT_NEAR(curve.table[64], 0.39713f, 5e-6);
  EXPECT_NEAR(curve.table[128], 0.66617f, 5e-6);
  EXPECT_NEAR(curve.table[192], 0.85812f, 5e-6);
  EXPECT_EQ(curve.table[255], 1.0f);
  for (int j = 1; j <= 255; ++j) EXPECT_GE(curve.table[j], curve.table[j - 1]) << "level " << j;
}

TEST(AutoAdjust, OneChannelRampGoesThroughTheTable) {
  const cv::Mat input = Ramp200();
  const ToneCurve curve = ComputeToneCurve(input);
  cv::Mat image = input.clone();
  EXPECT_NEAR(AutoAdjustCPU(image), 1.00099f, 5e-6);
  ASSERT_EQ(image.type(), CV_32FC1);
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(image.at<float>(0, i), curve.table[ToneLevel(input.at<float>(0, i), 255)]) << "pixel " << i;
  }
  EXPECT_NEAR(image.at<float>(0, 100), 0.66617f, 5e-6);  // 100 / 199 is on level 128, as 0.5 is
  EXPECT_EQ(image.at<float>(0, 0), 0.0f);
  EXPECT_EQ(image.at<float>(0, 199), 1.0f);
}

TEST(AutoAdjust, KeepsDepthSizeAndChannelCount) {
  for (int type : {CV_8UC1, CV_8UC3, CV_32FC1, CV_32FC3}) {
    const bool bytes = CV_MAT_DEPTH(type) == CV_8U;
    cv::Mat image = RandomImage(5, 7, type, 0, bytes ? 256 : 1, 11);
    const cv::Mat before = image.clone();
    AutoAdjustCPU(image);
    EXPECT_EQ(image.type(), type);
    EXPECT_EQ(image.size(), cv::Size(7, 5));
    EXPECT_FALSE(SameValues(image, before)) << "type " << type << " was not adjusted";
  }
}

TEST(AutoAdjust, EightBitResultIsTheFloatResultRounded) {
  for (int channels : {1, 3}) {
    cv::Mat bytes = RandomImage(9, 13, CV_MAKETYPE(CV_8U, channels), 0, 256, 5);
    cv::Mat floats;
    bytes.convertTo(floats, CV_32F, 1.0 / 255.0);
    AutoAdjustCPU(bytes);
    AutoAdjustCPU(floats);
    cv::Mat rounded;
    floats.convertTo(rounded, CV_8U, 255.0);
    EXPECT_TRUE(SameValues(bytes, rounded)) << channels << " channels";
  }
}

TEST(AutoAdjust, OtherDepthsAndChannelCountsRaiseAndLeaveTheImageAlone) {
  const struct {
    int type;
    std::string condition;
  } refused[] = {{CV_16UC3, "img.depth()==CV_8U || img.depth()==CV_32F"},
                 {CV_64FC1, "img.depth()==CV_8U || img.depth()==CV_32F"},
                 {CV_16SC1, "img.depth()==CV_8U || img.depth()==CV_32F"},
                 {CV_32FC2, "img.channels() == 1 || img.channels() == 3"},
                 {CV_8UC4, "img.channels() == 1 || img.channels() == 3"}};
  for (const auto& c : refused) {
    cv::Mat image = RandomImage(4, 6, c.type, 0, 1, 3);
    const cv::Mat before = image.clone();
    try {
      AutoAdjustCPU(image);
      ADD_FAILURE() << "type " << c.type << " accepted";
    } catch (const cv::Exception& e) {
      EXPECT_EQ(e.code, -215);
      EXPECT_EQ(e.err, c.condition);
      EXPECT_EQ(e.func, "AutoAdjustCPU");
    }
    EXPECT_TRUE(SameValues(image, before)) << "type " << c.type;
  }
}

TEST(AutoAdjust, ExposureIsCappedAtThreeForDarkPictures) {
  cv::Mat dark = RandomImage(20, 20, CV_32FC3, 0.0, 0.1, 21);
  EXPECT_EQ(AutoAdjustCPU(dark), 3.0f);
  // The brightest possible picture: gm = 1.0001 keeps g above the lower cap 1/3.
  cv::Mat white(4, 4, CV_32FC3, cv::Scalar::all(1.0));
  EXPECT_NEAR(AutoAdjustCPU(white), 0.36f / 1.0001f, 1e-6);
}

TEST(AutoAdjust, RegionOfInterestIsAdjustedLikeAContinuousCopy) {
  cv::Mat whole = RandomImage(12, 15, CV_8UC3, 0, 256, 8);
  const cv::Mat original = whole.clone();
  const cv::Rect area(3, 2, 9, 7);
  cv::Mat region = whole(area);
  cv::Mat copy = region.clone();
  AutoAdjustCPU(region);
  AutoAdjustCPU(copy);
  EXPECT_TRUE(SameValues(region, copy));
  cv::Mat outside_changed = whole != original;
  outside_changed(area).setTo(0);
  EXPECT_EQ(cv::countNonZero(outside_changed.reshape(1)), 0);
}

TEST(AutoAdjustColour, GreyPixelsStayGrey) {
  cv::Mat image = RandomImage(10, 10, CV_32FC3, 0, 1, 4);
  for (int i = 0; i < 10; ++i) image.at<cv::Vec3f>(i, i) = cv::Vec3f::all(0.1f * static_cast<float>(i));
  AutoAdjustCPU(image);
  for (int i = 0; i < 10; ++i) {
    const cv::Vec3f p = image.at<cv::Vec3f>(i, i);
    EXPECT_NEAR(p[0], p[1], 2e-6) << "pixel " << i;
    EXPECT_NEAR(p[1], p[2], 2e-6) << "pixel " << i;
  }
}

cv::Mat Luminance(const cv::Mat& bgr) {
  cv::Mat luminance(bgr.size(), CV_32FC1);
  for (int i = 0; i < bgr.rows; ++i)
    for (int j = 0; j < bgr.cols; ++j) {
      const cv::Vec3f p = bgr.at<cv::Vec3f>(i, j);
      luminance.at<float>(i, j) = (p[2] * 0.299f + p[1] * 0.587f) + p[0] * 0.114f;
    }
  return luminance;
}

// A colour picture's luminance is taken pixel by pixel as it is measured: the same curve
// as from the luminance plane, over several blocks of the measurement.
TEST(ToneCurve, FromAColourPictureAsFromItsLuminancePlane) {
  const cv::Mat bgr = RandomImage(613, 997, CV_32FC3, 0, 1, 21);
  const ToneCurve from_colour = ComputeToneCurve(bgr);
  const ToneCurve from_plane = ComputeToneCurve(Luminance(bgr));
  EXPECT_EQ(from_colour.log_average, from_plane.log_average);
  EXPECT_EQ(from_colour.top, from_plane.top);
  EXPECT_EQ(from_colour.lo, from_plane.lo);
  EXPECT_EQ(from_colour.hi, from_plane.hi);
  EXPECT_EQ(from_colour.table, from_plane.table);
  EXPECT_TRUE(from_colour.stretchable);

  // The order of the additions shows in single precision: a pixel whose luminance added
  // in another order differs is measured as red and green first, then blue.
  cv::RNG rng(5);
  bool found = false;
  for (int attempt = 0; attempt < 1000 && !found; ++attempt) {
    const float p[3] = {rng.uniform(0.0f, 1.0f), rng.uniform(0.0f, 1.0f), rng.uniform(0.0f, 1.0f)};
    const float expected = (p[2] * 0.299f + p[1] * 0.587f) + p[0] * 0.114f;
    if (expected == (p[2] * 0.299f + p[0] * 0.114f) + p[1] * 0.587f) continue;
    found = true;
    EXPECT_EQ(MeasureLuminance(p, 1, 3).largest, expected);
  }
  EXPECT_TRUE(found);
}

TEST(AutoAdjustColour, ChromaIsTheMeanOfInputAndToneMappedChroma) {
  const cv::Mat input = RandomImage(8, 11, CV_32FC3, 0, 1, 9);
  cv::Mat toned = input.clone();
  ApplyToneTable(ComputeToneCurve(Luminance(input)), toned);
  cv::Mat output = input.clone();
  AutoAdjustCPU(output);

  // The library's two conversions are not exact inverses (to about 1e-4), so the expected
  // picture is built in YCrCb and converted back, rather than the output converted forward.
  cv::Mat in_ycc, expected_ycc, expected;
  cv::cvtColor(input, in_ycc, cv::COLOR_BGR2YCrCb);
  cv::cvtColor(toned, expected_ycc, cv::COLOR_BGR2YCrCb);
  for (int i = 0; i < input.rows; ++i)
    for (int j = 0; j < input.cols; ++j) {
      const cv::Vec3f in = in_ycc.at<cv::Vec3f>(i, j);
      cv::Vec3f& mixed = expected_ycc.at<cv::Vec3f>(i, j);
      mixed[1] = 0.5f * (in[1] + mixed[1]);
      mixed[2] = 0.5f * (in[2] + mixed[2]);
    }
  cv::cvtColor(expected_ycc, expected, cv::COLOR_YCrCb2BGR);
  EXPECT_LE(cv::norm(output.reshape(1), expected.reshape(1), cv::NORM_INF), 1e-6);
  // Only the chroma moved: the result is neither the tone-mapped picture nor the input.
  EXPECT_GT(cv::norm(output.reshape(1), toned.reshape(1), cv::NORM_INF), 0.01);
}

TEST(AutoAdjustColour, ChannelAtOrAboveTopBecomesOne) {
  // Pure blue has luminance 0.114, so top is 30 while the blue channel sits on level 255.
  cv::Mat image(4, 4, CV_32FC3, cv::Scalar::all(0.05));
  image.at<cv::Vec3f>(0, 0) = cv::Vec3f(1.0f, 0.0f, 0.0f);
  image.at<cv::Vec3f>(0, 1) = cv::Vec3f(0.0f, 0.0f, 0.4f);  // red 0.4 on level 102; L = 0.1196
  const ToneCurve curve = ComputeToneCurve(Luminance(image));
  ASSERT_EQ(curve.top, 31);
  ApplyToneTable(curve, image);
  EXPECT_EQ(image.at<cv::Vec3f>(0, 0), cv::Vec3f(1.0f, 0.0f, 0.0f));
  EXPECT_EQ(image.at<cv::Vec3f>(0, 1), cv::Vec3f(0.0f, 0.0f, 1.0f));
}

TEST(AutoAdjustDegenerate, AllBlackPicturesAreKept) {
  for (int type : {CV_32FC1, CV_32FC3, CV_8UC3}) {
    cv::Mat image = cv::Mat::zeros(3, 4, type);
    EXPECT_EQ(AutoAdjustCPU(image), 3.0f);  // gm = 0.0001
    EXPECT_EQ(cv::countNonZero(image.reshape(1)), 0) << "type " << type;
  }
  const ToneCurve curve = ComputeToneCurve(cv::Mat::zeros(3, 4, CV_32FC1));
  EXPECT_EQ(curve.top, 0);
  EXPECT_FALSE(curve.stretchable);
  EXPECT_EQ(curve.table[0], 0.0f);
}

TEST(AutoAdjustDegenerate, UniformPictureOnTheTopLevelStaysUniformAndFinite) {
  // 0.5 and 128 / 255 both sit on level 128, which is also top: the black level would be 129.
  cv::Mat floats(6, 5, CV_32FC3, cv::Scalar::all(0.5));
  cv::Mat bytes(6, 5, CV_8UC1, cv::Scalar(128));
  const ToneCurve curve = ComputeToneCurve(cv::Mat(6, 5, CV_32FC1, cv::Scalar(0.5)));
  EXPECT_EQ(curve.top, 128);
  EXPECT_EQ(curve.lo, 128);
  EXPECT_EQ(curve.hi, 127);
  for (cv::Mat* image : {&floats, &bytes}) {
    AutoAdjustCPU(*image);
    ExpectAllFinite(*image);
    double low = 0, high = 0;
    cv::minMaxLoc(image->reshape(1), &low, &high);
    EXPECT_EQ(low, high);
    // The curve takes the brightest level present to white.
    EXPECT_NEAR(high, image->depth() == CV_8U ? 255.0 : 1.0, 1e-6);
  }
}

TEST(AutoAdjustDegenerate, NearlyAllBlackPictureKeepsEveryByte) {
  // 255 lit pixels out of 76800 are under the 0.5 % tail, so the white level would be -1.
  cv::Mat bytes = cv::Mat::zeros(300, 256, CV_8UC1);
  for (int j = 0; j < 256; ++j) bytes.at<uchar>(0, j) = static_cast<uchar>(j);
  const cv::Mat before = bytes.clone();
  AutoAdjustCPU(bytes);
  EXPECT_TRUE(SameValues(bytes, before));

  cv::Mat colour = cv::Mat::zeros(300, 256, CV_32FC3);
  RandomImage(1, 256, CV_32FC3, 0, 1, 2).copyTo(colour.row(0));
  const cv::Mat colour_before = colour.clone();
  AutoAdjustCPU(colour);
  EXPECT_TRUE(SameValues(colour, colour_before));
}

TEST(AutoAdjustDegenerate, NearlyAllOnTheTopLevelIsFinite) {
  cv::Mat image(300, 256, CV_32FC1, cv::Scalar(1.0));
  for (int j = 0; j < 256; ++j) image.at<float>(0, j) = static_cast<float>(j) / 255.0f;
  const ToneCurve curve = ComputeToneCurve(image);
  EXPECT_EQ(curve.lo, 255);
  AutoAdjustCPU(image);
  ExpectAllFinite(image);
  EXPECT_EQ(image.at<float>(299, 255), 1.0f);
  double low = 0, high = 0;
  cv::minMaxLoc(image, &low, &high);
  EXPECT_GE(low, 0.0);
  EXPECT_LE(high, 1.0);
}

TEST(AutoAdjustDegenerate, SinglePixels) {
  for (float v : {0.0f, 0.002f, 0.3f, 1.0f}) {
    cv::Mat grey(1, 1, CV_32FC1, cv::Scalar(v));
    AutoAdjustCPU(grey);
    ExpectAllFinite(grey);
    EXPECT_GE(grey.at<float>(0, 0), 0.0f);
    EXPECT_LE(grey.at<float>(0, 0), 1.0f);
  }
  cv::Mat colour(1, 1, CV_8UC3, cv::Scalar(10, 200, 30));
  AutoAdjustCPU(colour);
  cv::Mat colour_float(1, 1, CV_32FC3, cv::Scalar(0.1, 0.8, 0.3));
  AutoAdjustCPU(colour_float);
  ExpectAllFinite(colour_float);
}

TEST(AutoAdjust, ValuesOutsideTheUnitRangeStayInsideTheTable) {
  const float inf = std::numeric_limits<float>::infinity();
  cv::Mat image = (cv::Mat_<float>(1, 7) << -1.0f, 2.0f, NAN, inf, -inf, 0.5f, 1e30f);
  const float g = AutoAdjustCPU(image);
  EXPECT_GE(g, 0.33333334f);
  EXPECT_LE(g, 3.0f);
  ExpectAllFinite(image);
  cv::Mat colour = RandomImage(3, 3, CV_32FC3, -2, 3, 6);
  colour.at<cv::Vec3f>(1, 1) = cv::Vec3f(NAN, inf, -inf);
  const float colour_g = AutoAdjustCPU(colour);
  EXPECT_GE(colour_g, 0.33333334f);
  EXPECT_LE(colour_g, 3.0f);
}

TEST(AutoAdjust, EmptyPictureIsLeftAlone) {
  cv::Mat empty(0, 0, CV_32FC3);
  EXPECT_EQ(AutoAdjustCPU(empty), 1.0f);
  EXPECT_TRUE(empty.empty());
}

}  // namespace
}  // namespace vantorel
