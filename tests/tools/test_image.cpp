// Test pictures for the command-line tests.
//   test_image make KIND WIDTH HEIGHT PATH  writes a picture of known content; the format
//                                          follows PATH's extension, KIND the content
//   test_image craft KIND WIDTH HEIGHT PATH writes a hand-made file the encoder cannot
//                                          make: cmyk (JPEG), palette, grey_alpha (PNG),
//                                          claimed_size (a PNG header claiming the size,
//                                          with the data of one row only), claimed_size_bmp
//                                          (the same as a BMP header)
//   test_image info PATH                    prints "WIDTH HEIGHT CHANNELS DEPTHBITS"
//   test_image same PATH_A PATH_B           exit 0 when both decode to the same pixels
//   test_image range PATH                   prints "MIN MAX" of all its samples
//   test_image scale SOURCE WIDTH HEIGHT PATH [area]
//                                          SOURCE resized to WIDTH x HEIGHT (a real photo
//                                          blown up to a large test picture); with area, by
//                                          area averaging, as the web server shrinks results
//                                          for the screen
//   test_image deepen PHOTO PATH           PHOTO in 16 bits with a smooth sky in its top fifth
//                                          (deep_measures.h)
//   test_image reduce DEEP PATH             DEEP (16 bits) to 8 bits, v / 257 rounded
//   test_image measure DEEP_RESULT EIGHT_RESULT
//                                          prints "DISTINCT16 DISTINCT8 MEAN LARGEST X Y CHANNEL":
//                                          the sky's distinct values in both results, and the
//                                          differences of the 16-bit result reduced to 8 bits
//   test_image same-alpha PATH_A PATH_B     exit 0 when both have alpha and their alphas are equal
//   test_image rotate SOURCE PATH           SOURCE as stored (all channels, any depth) turned a
//                                          quarter clockwise, as EXIF orientation 6 asks
//   test_image side-by-side BEFORE AFTER [MORE...] PANEL_WIDTH PATH
//                                          the pictures scaled to PANEL_WIDTH pixels wide,
//                                          side by side with white gaps
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "crafted_bmp.h"
#include "crafted_jpeg.h"
#include "crafted_png.h"
#include "deep_measures.h"

namespace {

// A hazy-looking scene: a bright sky band over a coloured gradient.
cv::Mat Gradient(int w, int h) {
  cv::Mat img(h, w, CV_8UC3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      cv::Vec3b& p = img.at<cv::Vec3b>(y, x);
      if (y < h / 4) {
        p = cv::Vec3b(235, 230, 225);
      } else {
        p = cv::Vec3b(static_cast<uchar>(90 + 100 * x / std::max(w, 1)),
                      static_cast<uchar>(120 + 80 * y / std::max(h, 1)),
                      static_cast<uchar>(150 - 60 * x / std::max(w, 1)));
      }
    }
  }
  return img;
}

cv::Mat Noise(int w, int h) {
  cv::Mat img(h, w, CV_8UC3);
  cv::RNG rng(12345);
  rng.fill(img, cv::RNG::UNIFORM, 0, 256);
  return img;
}

cv::Mat Gray16(int w, int h) {
  cv::Mat img(h, w, CV_16UC1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.at<uint16_t>(y, x) = static_cast<uint16_t>((x * 65535) / std::max(w - 1, 1));
  return img;
}

cv::Mat Rgb16(int w, int h) {
  cv::Mat img;
  Gradient(w, h).convertTo(img, CV_16UC3, 257.0);
  return img;
}

// A very dark picture: the gradient scaled so that its largest sample is 20.
cv::Mat Dark(int w, int h) {
  cv::Mat img;
  Gradient(w, h).convertTo(img, CV_8UC3, 20.0 / 235.0);
  return img;
}

cv::Mat Rgba(int w, int h) {
  cv::Mat bgr = Gradient(w, h), bgra;
  cv::Mat alpha(h, w, CV_8UC1, cv::Scalar(200));
  std::vector<cv::Mat> planes;
  cv::split(bgr, planes);
  planes.push_back(alpha);
  cv::merge(planes, bgra);
  return bgra;
}

cv::Mat GrayFrom(const cv::Mat& bgr) {
  cv::Mat gray(bgr.rows, bgr.cols, CV_8UC1);
  for (int y = 0; y < bgr.rows; ++y)
    for (int x = 0; x < bgr.cols; ++x) gray.at<uchar>(y, x) = bgr.at<cv::Vec3b>(y, x)[1];
  return gray;
}

// Colour with a varied alpha, in 16 bits.
cv::Mat Rgba16(int w, int h) {
  std::vector<cv::Mat> planes;
  cv::split(Rgb16(w, h), planes);
  cv::Mat alpha(h, w, CV_16UC1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) alpha.at<uint16_t>(y, x) = static_cast<uint16_t>((x * 977 + y * 131) % 65536);
  planes.push_back(alpha);
  cv::Mat bgra;
  cv::merge(planes, bgra);
  return bgra;
}

int Deepen(const char* photo_path, const char* path) {
  const cv::Mat photo = cv::imread(photo_path, cv::IMREAD_COLOR);
  if (photo.empty() || !cv::imwrite(path, vantorel::deep_measures::SmoothSky(photo))) {
    std::fprintf(stderr, "test_image: cannot decode %s or write %s\n", photo_path, path);
    return 1;
  }
  return 0;
}

int Reduce(const char* deep_path, const char* path) {
  const cv::Mat deep = cv::imread(deep_path, cv::IMREAD_UNCHANGED);
  if (deep.depth() != CV_16U || !cv::imwrite(path, vantorel::deep_measures::Reduced(deep))) {
    std::fprintf(stderr, "test_image: %s is not a 16-bit picture, or %s cannot be written\n", deep_path, path);
    return 1;
  }
  return 0;
}

int Measure(const char* deep_path, const char* eight_path) {
  const cv::Mat deep = cv::imread(deep_path, cv::IMREAD_UNCHANGED), eight = cv::imread(eight_path, cv::IMREAD_UNCHANGED);
  if (deep.type() != CV_16UC3 || eight.type() != CV_8UC3 || deep.size() != eight.size()) {
    std::fprintf(stderr, "test_image: measure needs a 16-bit and an 8-bit colour picture of one size\n");
    return 1;
  }
  const vantorel::deep_measures::Differences d = vantorel::deep_measures::DifferencesOf(vantorel::deep_measures::Reduced(deep), eight);
  std::printf("%zu %zu %.4f %d %d %d %d\n", vantorel::deep_measures::DistinctSkyValues(deep),
              vantorel::deep_measures::DistinctSkyValues(eight), d.mean, d.largest, d.x, d.y, d.channel);
  return 0;
}

int SameAlpha(const char* a, const char* b) {
  const cv::Mat x = cv::imread(a, cv::IMREAD_UNCHANGED), y = cv::imread(b, cv::IMREAD_UNCHANGED);
  if (x.empty() || y.empty() || x.size() != y.size() || x.depth() != y.depth()) return 1;
  const int cx = x.channels(), cy = y.channels();
  if ((cx != 2 && cx != 4) || (cy != 2 && cy != 4)) return 1;
  cv::Mat alpha_x, alpha_y;
  cv::extractChannel(x, alpha_x, cx - 1);
  cv::extractChannel(y, alpha_y, cy - 1);
  return cv::norm(alpha_x, alpha_y, cv::NORM_INF) == 0 ? 0 : 1;
}

int Rotate(const char* source_path, const char* path) {
  const cv::Mat source = cv::imread(source_path, cv::IMREAD_UNCHANGED);
  cv::Mat turned;
  if (!source.empty()) cv::rotate(source, turned, cv::ROTATE_90_CLOCKWISE);
  if (turned.empty() || !cv::imwrite(path, turned)) {
    std::fprintf(stderr, "test_image: cannot decode %s or write %s\n", source_path, path);
    return 1;
  }
  return 0;
}

int Info(const char* path) {
  const cv::Mat img = cv::imread(path, cv::IMREAD_UNCHANGED);
  if (img.empty()) {
    std::fprintf(stderr, "test_image: cannot decode %s\n", path);
    return 1;
  }
  const int bits = img.depth() == CV_8U ? 8 : img.depth() == CV_16U ? 16 : 32;
  std::printf("%d %d %d %d\n", img.cols, img.rows, img.channels(), bits);
  return 0;
}

int Range(const char* path) {
  const cv::Mat img = cv::imread(path, cv::IMREAD_UNCHANGED);
  if (img.empty()) {
    std::fprintf(stderr, "test_image: cannot decode %s\n", path);
    return 1;
  }
  double low = 0, high = 0;
  cv::minMaxLoc(img.reshape(1), &low, &high);
  std::printf("%g %g\n", low, high);
  return 0;
}

int Same(const char* a, const char* b) {
  const cv::Mat x = cv::imread(a, cv::IMREAD_UNCHANGED), y = cv::imread(b, cv::IMREAD_UNCHANGED);
  if (x.empty() || y.empty() || x.size() != y.size() || x.type() != y.type()) return 1;
  return cv::norm(x, y, cv::NORM_INF) == 0 ? 0 : 1;
}

int Make(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: test_image make KIND WIDTH HEIGHT PATH\n");
    return 2;
  }
  const std::string kind = argv[2];
  const int w = std::atoi(argv[3]);
  const int h = std::atoi(argv[4]);
  const std::map<std::string, std::function<cv::Mat()>> makers = {
      {"gradient", [&] { return Gradient(w, h); }},
      {"noise", [&] { return Noise(w, h); }},
      {"grey", [&] { return cv::Mat(h, w, CV_8UC3, cv::Scalar(128, 128, 128)); }},
      {"black", [&] { return cv::Mat(h, w, CV_8UC3, cv::Scalar(0, 0, 0)); }},
      {"white", [&] { return cv::Mat(h, w, CV_8UC3, cv::Scalar(255, 255, 255)); }},
      {"red", [&] { return cv::Mat(h, w, CV_8UC3, cv::Scalar(0, 0, 255)); }},
      {"dim", [&] { return Gradient(w, h) / 4; }},
      {"gray8", [&] { return GrayFrom(Gradient(w, h)); }},
      {"gray16", [&] { return Gray16(w, h); }},
      {"rgba", [&] { return Rgba(w, h); }},
      {"rgb16", [&] { return Rgb16(w, h); }},
      {"rgba16", [&] { return Rgba16(w, h); }},
      {"dark", [&] { return Dark(w, h); }},
      {"progressive", [&] { return Gradient(w, h); }},
  };
  const auto maker = makers.find(kind);
  if (maker == makers.end() || w <= 0 || h <= 0) {
    std::fprintf(stderr, "test_image: unknown kind '%s' or bad size\n", kind.c_str());
    return 2;
  }
  std::vector<int> params;
  if (kind == "progressive") params = {cv::IMWRITE_JPEG_PROGRESSIVE, 1};
  if (!cv::imwrite(argv[5], maker->second(), params)) {
    std::fprintf(stderr, "test_image: cannot write %s\n", argv[5]);
    return 1;
  }
  return 0;
}

cv::Mat ScaledToWidth(const cv::Mat& img, int width) {
  const int height = std::max(1, static_cast<int>(std::lround(static_cast<double>(img.rows) * width / img.cols)));
  cv::Mat scaled;
  cv::resize(img, scaled, cv::Size(width, height), 0, 0, cv::INTER_AREA);
  return scaled;
}

// The pictures scaled to one width, left to right, with white gaps between them.
int SideBySide(const std::vector<const char*>& paths, int panel_width, const char* path) {
  constexpr int kGap = 8;
  std::vector<cv::Mat> panels;
  int height = 0;
  for (const char* picture_path : paths) {
    const cv::Mat picture = cv::imread(picture_path, cv::IMREAD_COLOR);
    if (picture.empty() || panel_width <= 0) {
      std::fprintf(stderr, "test_image: cannot decode %s, or bad width\n", picture_path);
      return 1;
    }
    panels.push_back(ScaledToWidth(picture, panel_width));
    height = std::max(height, panels.back().rows);
  }
  const int count = static_cast<int>(panels.size());
  cv::Mat canvas(height, count * panel_width + (count - 1) * kGap, CV_8UC3, cv::Scalar(255, 255, 255));
  for (int i = 0; i < count; ++i) {
    panels[i].copyTo(canvas(cv::Rect(i * (panel_width + kGap), 0, panels[i].cols, panels[i].rows)));
  }
  if (!cv::imwrite(path, canvas)) {
    std::fprintf(stderr, "test_image: cannot write %s\n", path);
    return 1;
  }
  return 0;
}

int Craft(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: test_image craft KIND WIDTH HEIGHT PATH\n");
    return 2;
  }
  const std::string kind = argv[2];
  const long w = std::atol(argv[3]);
  const long h = std::atol(argv[4]);
  const std::map<std::string, std::function<std::vector<uint8_t>()>> crafters = {
      {"cmyk", [&] { return crafted::CmykJpeg(w, h); }},
      {"palette", [&] { return crafted::PalettePng(w, h); }},
      {"grey_alpha", [&] { return crafted::GreyAlphaPng(w, h); }},
      {"claimed_size", [&] { return crafted::ClaimedSizePng(w, h); }},
      {"claimed_size_bmp", [&] { return crafted::ClaimedSizeBmp(w, h); }},
  };
  const auto crafter = crafters.find(kind);
  if (crafter == crafters.end() || w <= 0 || h <= 0 || (kind == "cmyk" && (w > 65535 || h > 65535))) {
    std::fprintf(stderr, "test_image: unknown kind '%s' or bad size\n", kind.c_str());
    return 2;
  }
  const std::vector<uint8_t> bytes = crafter->second();
  std::FILE* file = std::fopen(argv[5], "wb");
  const bool written = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file == nullptr || std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "test_image: cannot write %s\n", argv[5]);
    return 1;
  }
  return 0;
}

int Scale(const char* source_path, int width, int height, const char* path, int interpolation) {
  const cv::Mat source = cv::imread(source_path, cv::IMREAD_COLOR);
  if (source.empty() || width <= 0 || height <= 0) {
    std::fprintf(stderr, "test_image: cannot decode %s, or bad size\n", source_path);
    return 1;
  }
  cv::Mat scaled;
  cv::resize(source, scaled, cv::Size(width, height), 0, 0, interpolation);
  if (!cv::imwrite(path, scaled)) {
    std::fprintf(stderr, "test_image: cannot write %s\n", path);
    return 1;
  }
  return 0;
}

int Dispatch(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "make") return Make(argc, argv);
  if (command == "craft") return Craft(argc, argv);
  if (command == "info" && argc == 3) return Info(argv[2]);
  if (command == "deepen" && argc == 4) return Deepen(argv[2], argv[3]);
  if (command == "reduce" && argc == 4) return Reduce(argv[2], argv[3]);
  if (command == "measure" && argc == 4) return Measure(argv[2], argv[3]);
  if (command == "same-alpha" && argc == 4) return SameAlpha(argv[2], argv[3]);
  if (command == "rotate" && argc == 4) return Rotate(argv[2], argv[3]);
  if (command == "same" && argc == 4) return Same(argv[2], argv[3]);
  if (command == "range" && argc == 3) return Range(argv[2]);
  if (command == "scale" && (argc == 6 || (argc == 7 && std::string(argv[6]) == "area"))) {
    return Scale(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argv[5], argc == 7 ? cv::INTER_AREA : cv::INTER_CUBIC);
  }
  if (command == "side-by-side" && argc >= 6) {
    return SideBySide(std::vector<const char*>(argv + 2, argv + argc - 2), std::atoi(argv[argc - 2]), argv[argc - 1]);
  }
  std::fprintf(stderr, "usage: test_image make|craft|info|same|scale|side-by-side ...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Dispatch(argc, argv);
  } catch (const cv::Exception& e) {
    std::fprintf(stderr, "test_image: %s\n", e.what());
    return 1;
  }
}
