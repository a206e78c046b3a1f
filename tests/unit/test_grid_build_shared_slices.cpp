// The whole grid built by streams that share out its slices, and jump to slices taken over
// from another stream, must hold the same bytes as one stream going up through every
// slice, wherever the pieces are cut; the sharing hands out every slice once; and the
// filter built that way on several threads must match the reference filter.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "filters/bilateral_filters.h"
#include "filters/grid_in_bands.h"
#include "filters/image_channels.h"
#include "filters/schedule.h"
#include "reference_filters.h"
#include "vantorel/dehaze.h"

namespace vantorel {
namespace {

using Source = ChannelSource<FloatChannel>;
using Grid = std::vector<std::vector<double>>;

cv::Mat Picture(int rows, int cols, bool flat, uint32_t seed) {
  cv::Mat picture(rows, cols, CV_32FC3);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const float level = unit(rng);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) {
      for (int k = 0; k < 3; ++k) picture.at<cv::Vec3f>(y, x)[k] = flat ? level : unit(rng);
    }
  }
  // A flat picture still has one differing pixel, so that its range is not a single value.
  if (flat) picture.at<cv::Vec3f>(rows / 2, cols / 2) = cv::Vec3f(level, level, level) * 0.5f;
  return picture;
}

bool SameGrid(const Grid& a, const Grid& b) {
  if (a.size() != b.size()) return false;
  for (size_t x = 0; x < a.size(); ++x) {
    if (a[x].size() != b[x].size() || std::memcmp(a[x].data(), b[x].data(), a[x].size() * sizeof(double)) != 0) {
      return false;
    }
  }
  return true;
}

Grid EmptyGrid(const GridPlan<Source>& plan) {
  return Grid(plan.g.x_size, std::vector<double>(static_cast<size_t>(plan.g.y_size) * plan.g.z_size, 0.0));
}

// One stream storing the slices [from, to] of each run in turn, all rows at once.
void StoreRuns(const Source& source, const GridPlan<Source>& plan, const std::vector<std::pair<int32_t, int32_t>>& runs,
               int32_t height, Grid& grid) {
  size_t run = 0;
  int32_t next = runs.empty() ? 0 : runs[0].first;
  grid_in_bands::StoreClaimedSlices(source, plan, 0, height, 0, plan.g.y_size - 1,
                                    [&](int32_t& x) {
                                      while (run < runs.size() && next > runs[run].second) {
                                        if (++run < runs.size()) next = runs[run].first;
                                      }
                                      if (run == runs.size()) return false;
                                      x = next++;
                                      return true;
                                    },
                                    grid);
}

TEST(GridSharedSlices, StreamsCutAnywhereOrJumpingStoreTheSameBytesAsOneStreamUp) {
  struct Case {
    int rows, cols;
    double sigma_s;
  };
  const Case cases[] = {{1, 1, 35.0}, {37, 300, 35.0}, {71, 211, 35.0}, {50, 129, 8.0}, {9, 400, 3.0}};
  uint32_t seed = 7;
  for (const Case c : cases) {
    for (const bool flat : {false, true}) {
      const cv::Mat picture = Picture(c.rows, c.cols, flat, ++seed);
      for (int k = 0; k < 3; ++k) {
        const FloatChannel channel(picture, 3, k);
        const Source source{channel, channel, picture.cols, picture.rows};
        const GridPlan<Source> plan(source, c.cols, c.rows, c.sigma_s, 0.2);
        const int32_t last = plan.g.x_size - 1;
        Grid up = EmptyGrid(plan);
        StoreRuns(source, plan, {{0, last}}, c.rows, up);
        // Beyond a single pixel some slices are not zero, so that a stream storing nothing
        // would be caught.
        bool any = false;
        for (const auto& slice : up) {
          for (const double v : slice) any = any || v != 0.0;
        }
        EXPECT_TRUE(any || c.rows * c.cols == 1) << c.rows << "x" << c.cols;
        for (int32_t cut = 0; cut <= last + 1; ++cut) {
          const std::string what = std::to_string(c.rows) + "x" + std::to_string(c.cols) +
                                   (flat ? " flat" : " random") + " channel " + std::to_string(k) + " cut at " +
                                   std::to_string(cut);
          Grid two = EmptyGrid(plan);  // a stream for each side of the cut
          StoreRuns(source, plan, {{cut, last}}, c.rows, two);
          StoreRuns(source, plan, {{0, cut - 1}}, c.rows, two);
          EXPECT_TRUE(SameGrid(up, two)) << what;
          Grid jumping = EmptyGrid(plan);  // one stream, the upper side first, then back to 0
          StoreRuns(source, plan, {{cut, last}, {0, cut - 1}}, c.rows, jumping);
          EXPECT_TRUE(SameGrid(up, jumping)) << what << ", jumping back";
        }
      }
    }
  }
}

// Streams claiming in orders a seeded generator picks: every slice is handed out once, and
// a stream is sent away only when what is left lies in pieces already begun, each with
// too few slices to take over.
TEST(GridSharedSlices, EverySliceIsHandedOutOnce) {
  std::mt19937 rng(31);
  for (int round = 0; round < 200; ++round) {
    const int streams = 1 + static_cast<int>(rng() % 4);
    std::vector<int32_t> first(1, 0);
    for (int i = 0; i < streams; ++i) first.push_back(first.back() + static_cast<int32_t>(rng() % 30));
    grid_in_bands::SharedSlices slices(first);
    std::map<int32_t, int> handed;
    std::vector<bool> done(streams, false);
    size_t total = 0;
    for (int left = streams; left > 0;) {
      const int s = static_cast<int>(rng() % streams);
      if (done[s]) continue;
      int32_t x;
      if (!slices.Claim(s, x)) {
        const size_t left_over = static_cast<size_t>(first.back()) - total;
        EXPECT_LE(left_over, static_cast<size_t>((streams - 1) * (GridBuildLeastStolenSlices() - 1)))
            << "round " << round << ": stream " << s << " sent away";
        done[s] = true;
        --left;
        continue;
      }
      ++handed[x];
      ++total;
    }
    ASSERT_EQ(handed.size(), static_cast<size_t>(first.back())) << "round " << round;
    for (const auto& [x, times] : handed) {
      EXPECT_TRUE(x >= 0 && x < first.back() && times == 1) << "slice " << x << " handed out " << times << " times";
    }
  }
}

TEST(GridSharedSlices, FilterOnSeveralThreadsMatchesTheReference) {
  const cv::Mat picture = Picture(97, 1000, false, 99);
  const cv::Mat flat = Picture(64, 700, true, 98);
  for (const cv::Mat* p : {&picture, &flat}) {
    for (int k = 0; k < 3; ++k) {
      cv::Mat reference;
      BilateralChannelReferenceCPU(*p, k, reference, 35.0, 0.2);
      for (const int threads : {1, 2, 3, 4}) {
        SetThreadCount(threads);
        for (int round = 0; round < 4; ++round) {  // the streams meet where timing puts them
          cv::Mat fast;
          BilateralChannelCPU(*p, k, fast, 35.0, 0.2);
          EXPECT_EQ(0, std::memcmp(fast.data, reference.data, reference.total() * reference.elemSize()))
              << p->cols << " columns, channel " << k << ", " << threads << " threads";
        }
      }
      SetThreadCount(0);
    }
  }
}

}  // namespace
}  // namespace vantorel
