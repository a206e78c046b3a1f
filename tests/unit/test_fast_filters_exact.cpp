// The fast filter adapters and the whole pipeline against the plain reference path, byte
// for byte, and the same bytes for any thread count.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

#include <opencv2/core.hpp>

#include "filters/bilateral_filters.h"
#include "band_rows.h"
#include "filters/schedule.h"
#include "imagedehaze/dehaze.h"
#include "reference_filters.h"
#include "test_pictures.h"

namespace vantorel {
namespace {

// A picture with smooth regions, edges and noise, closer to a photo than pure noise.
cv::Mat Scene(int rows, int cols, uint64_t seed) {
  cv::Mat m(rows, cols, CV_8UC3);
  cv::RNG rng(seed);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) {
      const int band = (x * 3 / std::max(cols, 1) + y * 2 / std::max(rows, 1)) % 3;
      for (int k = 0; k < 3; ++k) {
        m.at<cv::Vec3b>(y, x)[k] = cv::saturate_cast<uchar>(60 + 60 * band + 40 * k + rng.uniform(-12, 13));
      }
    }
  }
  return m;
}

struct Size {
  int rows, cols;
};
const Size kSizes[] = {{1, 1}, {1, 7}, {9, 1}, {17, 23}, {64, 129}, {131, 97}};

TEST(FastFilters, JointBilateralMatchesTheReference) {
  uint64_t seed = 1;
  for (const Size s : kSizes) {
    const cv::Mat source = RandomImage(s.rows, s.cols, CV_32FC1, ++seed);
    const cv::Mat guide = RandomImage(s.rows, s.cols, CV_32FC1, ++seed);
    const std::array<double, 2> call_sites[] = {{35.0, 0.1}, {6.25, double(0.1f)}, {2.0, 0.03}};
    for (const auto& sigmas : call_sites) {
      cv::Mat fast, reference;
      JointBilateralCPU(source, guide, fast, sigmas[0], sigmas[1]);
      JointBilateralReferenceCPU(source, guide, reference, sigmas[0], sigmas[1]);
      EXPECT_TRUE(SameBytes(fast, reference)) << s.rows << "x" << s.cols << " sigma_s " << sigmas[0];
      // In place: the whole grid first, then bands of rows (or, when the grid would be
      // larger than the picture, through a plane), with bands of one row too.
      for (const int band_rows : {0, 1}) {
        SetBandRowsForTesting(band_rows);
        cv::Mat in_place = source.clone();
        JointBilateralCPU(in_place, guide, in_place, sigmas[0], sigmas[1]);
        EXPECT_TRUE(SameBytes(in_place, reference))
            << s.rows << "x" << s.cols << " sigma_s " << sigmas[0] << " in place, bands " << band_rows;
      }
      SetBandRowsForTesting(0);
    }
  }
}

// Taller than a band of the streaming core: the whole grid is built as one band of rows,
// its columns split between the threads, then read back band by band.
TEST(FastFilters, WholeGridOfATallPictureMatchesTheReferenceForAnyThreadCount) {
  const cv::Mat source = RandomImage(1000, 170, CV_32FC1, 81);
  const cv::Mat guide = RandomImage(1000, 170, CV_32FC1, 82);
  cv::Mat reference;
  JointBilateralReferenceCPU(source, guide, reference, 35.0, 0.1);
  for (const int threads : {1, 2, 3}) {
    SetThreadCount(threads);
    cv::Mat in_place = source.clone();
    JointBilateralCPU(in_place, guide, in_place, 35.0, 0.1);
    EXPECT_TRUE(SameBytes(in_place, reference)) << threads << " threads";
  }
  SetThreadCount(0);
}

// The byte filter's bands are cut evenly between the threads: 1000 rows make bands of 250
// rows on two threads, of about 167 on three, where one thread takes bands of the longest
// length the cache allows and a short last one.
TEST(FastFilters, ByteFilterInEvenBandsMatchesTheReferenceForAnyThreadCount) {
  const cv::Mat bytes = Scene(1000, 150, 83);
  cv::Mat reference;
  Bilateral8UC3ReferenceCPU(bytes, reference, 4.0, 0.02);
  for (const int threads : {1, 2, 3}) {
    SetThreadCount(threads);
    cv::Mat fast;
    Bilateral8UC3CPU(bytes, fast, 4.0, 0.02);
    EXPECT_TRUE(SameBytes(fast, reference)) << threads << " threads";
  }
  SetThreadCount(0);
}

TEST(FastFilters, ChannelAndByteFiltersMatchTheReferenceInAndOutOfPlace) {
  uint64_t seed = 50;
  for (const Size s : kSizes) {
    const cv::Mat floats = RandomImage(s.rows, s.cols, CV_32FC3, ++seed);
    const cv::Mat bytes = Scene(s.rows, s.cols, ++seed);
    for (int k = 0; k < 3; ++k) {
      cv::Mat plane_ref, plane_fast;
      BilateralChannelReferenceCPU(floats, k, plane_ref, 35.0, 0.2);
      for (const int band_rows : {0, 1}) {
        SetBandRowsForTesting(band_rows);
        BilateralChannelCPU(floats, k, plane_fast, 35.0, 0.2);
        EXPECT_TRUE(SameBytes(plane_fast, plane_ref)) << s.rows << "x" << s.cols << " channel " << k;
      }
      SetBandRowsForTesting(0);
    }
    cv::Mat byte_ref, byte_fast;
    Bilateral8UC3ReferenceCPU(bytes, byte_ref, 4.0, 0.02);
    Bilateral8UC3CPU(bytes, byte_fast, 4.0, 0.02);
    EXPECT_TRUE(SameBytes(byte_fast, byte_ref)) << s.rows << "x" << s.cols;

    cv::Mat byte_in_place = bytes.clone();
    Bilateral8UC3CPU(byte_in_place, byte_in_place, 4.0, 0.02);
    EXPECT_TRUE(SameBytes(byte_in_place, byte_ref)) << s.rows << "x" << s.cols;
  }
}

// The byte filter reads back whole runs of pixel columns that share their grid slices:
// with vector code four columns at a time (the last four of a run again when its width is
// not a multiple of four), and one by one when a run has fewer than four columns (cells
// narrower than four pixels, or the last cells of a row). Awkward sizes and cell widths,
// noisy, flat and photo-like pictures, against the reference.
TEST(FastFilters, ByteFilterOnAwkwardSizesAndCellsMatchesTheReference) {
  const Size sizes[] = {{1, 1}, {2, 3}, {1, 4}, {3, 5}, {4, 13}, {7, 9}, {5, 257}, {2, 259}, {12, 301}, {61, 38}};
  const double cells[][2] = {{4.0, 0.02}, {3.0, 0.02}, {5.5, 0.1}, {9.0, 0.05}};
  uint64_t seed = 400;
  for (const Size s : sizes) {
    const cv::Mat pictures[] = {RandomImage(s.rows, s.cols, CV_8UC3, ++seed),
                                cv::Mat(s.rows, s.cols, CV_8UC3, cv::Scalar(0, 128, 255)),
                                Scene(s.rows, s.cols, ++seed)};
    for (const cv::Mat& picture : pictures) {
      for (const auto& cell : cells) {
        cv::Mat reference, fast;
        Bilateral8UC3ReferenceCPU(picture, reference, cell[0], cell[1]);
        Bilateral8UC3CPU(picture, fast, cell[0], cell[1]);
        EXPECT_TRUE(SameBytes(fast, reference))
            << s.rows << "x" << s.cols << " cells " << cell[0] << "/" << cell[1] << " mean " << cv::mean(picture);
      }
    }
  }
}

// The float filters fill a tile at a time, reading its rows four pixels at a time (the
// last four of a row again): cells narrower than four pixels, widths not a multiple of
// four, fewer rows than a cell, one channel of a colour picture smoothed along itself, and
// a plane smoothed along a colour guide; noisy, flat and photo-like pictures.
TEST(FastFilters, FloatFiltersOnAwkwardSizesAndCellsMatchTheReference) {
  const Size sizes[] = {{1, 1}, {2, 3}, {1, 4}, {3, 5}, {4, 13}, {7, 9}, {5, 257}, {12, 301}, {61, 38}};
  const double cells[][2] = {{2.0, 0.1}, {3.0, 0.2}, {5.5, 0.05}, {35.0, 0.1}};
  uint64_t seed = 700;
  for (const Size s : sizes) {
    cv::Mat scene;
    Scene(s.rows, s.cols, ++seed).convertTo(scene, CV_32FC3, 1.0 / 255.0);
    const cv::Mat pictures[] = {RandomImage(s.rows, s.cols, CV_32FC3, ++seed),
                                cv::Mat(s.rows, s.cols, CV_32FC3, cv::Scalar(0.25, 0.5, 1.0)), scene};
    const cv::Mat plane = RandomImage(s.rows, s.cols, CV_32FC1, ++seed);
    for (const cv::Mat& picture : pictures) {
      for (const auto& cell : cells) {
        const std::string what = std::to_string(s.rows) + "x" + std::to_string(s.cols) + " cells " +
                                 std::to_string(cell[0]) + "/" + std::to_string(cell[1]);
        for (int k = 0; k < 3; ++k) {
          cv::Mat reference, fast;
          BilateralChannelReferenceCPU(picture, k, reference, cell[0], cell[1]);
          BilateralChannelCPU(picture, k, fast, cell[0], cell[1]);
          EXPECT_TRUE(SameBytes(fast, reference)) << what << " channel " << k;
        }
        cv::Mat reference, fast;
        JointBilateralReferenceCPU(plane, picture, reference, cell[0], cell[1]);
        JointBilateralCPU(plane, picture, fast, cell[0], cell[1]);
        EXPECT_TRUE(SameBytes(fast, reference)) << what << " along a colour guide";
      }
    }
  }
}

// Cells of 800 x 800 pixels, whose weights outgrow 32-bit numerators, and of 724 x 724,
// the largest that 32 bits hold (at 16 bits too, on the same core).
TEST(FastFilters, ByteAndWordFiltersWithTheLargestCellsMatchTheReference) {
  for (const int side : {1300, 1448}) {
    const double cell = side == 1300 ? 800.0 : 724.0;
    const cv::Mat bytes = Scene(side, side, 90 + side);
    cv::Mat reference, fast;
    Bilateral8UC3ReferenceCPU(bytes, reference, cell, 0.02);
    Bilateral8UC3CPU(bytes, fast, cell, 0.02);
    EXPECT_TRUE(SameBytes(fast, reference)) << "bytes, cells of " << cell;
    cv::Mat words;
    bytes.convertTo(words, CV_16UC3, 257.0);
    Bilateral16UC3ReferenceCPU(words, reference, cell, 0.02);
    Bilateral16UC3CPU(words, fast, cell, 0.02);
    EXPECT_TRUE(SameBytes(fast, reference)) << "16 bits, cells of " << cell;
  }
}

std::vector<unsigned char> Dehazed(const cv::Mat& picture, float thickness) {
  cv::Mat work = picture.clone();
  EXPECT_TRUE(DehazeCPU(work.data, work.cols, work.rows, thickness));
  return std::vector<unsigned char>(work.data, work.data + work.total() * 3);
}

TEST(FastPipeline, SameBytesAsTheReferencePathAndForAnyThreadCount) {
  const cv::Mat pictures[] = {Scene(97, 143, 7), Scene(300, 211, 8), Scene(1, 40, 9),
                              RandomImage(33, 35, CV_8UC3, 10)};
  for (const cv::Mat& picture : pictures) {
    const std::string size = std::to_string(picture.rows) + "x" + std::to_string(picture.cols);
    setenv("VANTOREL_THREADS", "1", 1);
    cv::Mat expected = picture.clone();
    ASSERT_TRUE(ReferenceDehazeCPU(expected.data, expected.cols, expected.rows, 0.9f));
    const std::vector<unsigned char> reference(expected.data, expected.data + expected.total() * 3);
    for (const char* threads : {"1", "2", "5"}) {
      setenv("VANTOREL_THREADS", threads, 1);
      EXPECT_EQ(Dehazed(picture, 0.9f), reference) << size << " with " << threads << " threads";
    }
    // Every band of rows (grid filters, tone adjustment, conversions) of one row, of a few
    // rows, and one band for the whole picture.
    for (const int band_rows : {1, 6, 1 << 20}) {
      SetBandRowsForTesting(band_rows);
      for (const char* threads : {"1", "2"}) {
        setenv("VANTOREL_THREADS", threads, 1);
        EXPECT_EQ(Dehazed(picture, 0.9f), reference)
            << size << " with " << threads << " threads, bands of " << band_rows << " rows";
      }
    }
    SetBandRowsForTesting(0);
    unsetenv("VANTOREL_THREADS");
  }
}

}  // namespace
}  // namespace vantorel
