// Which kept range serves which request, over plain addresses: best fit, splits, merges
// and the bounds on what stays kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <vector>

#include "main/free_ranges.h"

namespace vantorel {

void PrintTo(const FreeRanges::Range& r, std::ostream* out) { *out << "{" << r.start << ", " << r.size << "}"; }

namespace {

using Range = FreeRanges::Range;

std::vector<Range> Ranges(std::initializer_list<Range> list) { return list; }

// A range mapped afresh and handed out, as the allocator does when nothing kept fits.
void Fresh(FreeRanges& pool, size_t size) {
  ASSERT_TRUE(pool.MakeRoomFor(size).empty());
  pool.Adopt(size);
}

// One large range stays in use throughout, so that the bound on kept bytes (a third more
// than the largest range) is far above what these tests give back.
class FreeRangesWithLargeLive : public testing::Test {
 protected:
  void SetUp() override { Fresh(pool_, 300); }

  // Hands out ranges at the given addresses and gives them all back.
  void Keep(std::initializer_list<Range> ranges) {
    for (const Range& r : ranges) Fresh(pool_, r.size);
    for (const Range& r : ranges) ASSERT_TRUE(pool_.Give(r.start, r.size).empty());
  }

  FreeRanges pool_{1};
};

TEST_F(FreeRangesWithLargeLive, TakesTheSmallestRangeThatIsLargeEnough) {
  Keep({{1000, 10}, {2000, 4}, {3000, 6}});
  EXPECT_EQ(pool_.Take(11), std::nullopt);
  EXPECT_EQ(pool_.Take(5), 3000u);
  EXPECT_EQ(pool_.Take(4), 2000u);
  EXPECT_EQ(pool_.Take(4), 1000u);
  EXPECT_EQ(pool_.Free(), Ranges({{1004, 6}, {3005, 1}}));
}

TEST_F(FreeRangesWithLargeLive, TheRestOfASplitRangeServesTheNextRequest) {
  Keep({{1000, 10}});
  EXPECT_EQ(pool_.Take(4), 1000u);
  EXPECT_EQ(pool_.Free(), Ranges({{1004, 6}}));
  EXPECT_EQ(pool_.Take(6), 1004u);
  EXPECT_TRUE(pool_.Free().empty());
  EXPECT_EQ(pool_.FreeBytes(), 0u);
  EXPECT_EQ(pool_.InUseBytes(), 310u);
}

TEST_F(FreeRangesWithLargeLive, ARangeGivenBackMergesWithNeighboursOnBothSides) {
  for (size_t size : {4, 6, 6}) Fresh(pool_, size);
  EXPECT_TRUE(pool_.Give(1000, 4).empty());
  EXPECT_TRUE(pool_.Give(1010, 6).empty());
  EXPECT_EQ(pool_.Free(), Ranges({{1000, 4}, {1010, 6}}));
  EXPECT_TRUE(pool_.Give(1004, 6).empty());
  EXPECT_EQ(pool_.Free(), Ranges({{1000, 16}}));
  // The merged range serves a request none of its parts could.
  EXPECT_EQ(pool_.Take(16), 1000u);
}

TEST_F(FreeRangesWithLargeLive, RangesThatDoNotTouchStayApart) {
  Keep({{1000, 4}, {1005, 4}});
  EXPECT_EQ(pool_.Free(), Ranges({{1000, 4}, {1005, 4}}));
  EXPECT_EQ(pool_.Take(5), std::nullopt);
}

TEST(FreeRanges, KeepsAtMostTheLargestRangeAndAThirdOfItSmallestFirst) {
  FreeRanges pool(2);
  for (size_t size : {12, 8, 6}) Fresh(pool, size);
  EXPECT_EQ(pool.KeepAtMostBytes(), 16u);
  EXPECT_TRUE(pool.Give(0, 12).empty());
  // 18 kept would be too many: the smallest range loses the 2 that are over.
  EXPECT_EQ(pool.Give(200, 6), Ranges({{204, 2}}));
  EXPECT_EQ(pool.Free(), Ranges({{0, 12}, {200, 4}}));
  // 8 more: the 4 goes whole, then 4 from the end of the next smallest, the 8.
  EXPECT_EQ(pool.Give(100, 8), Ranges({{200, 4}, {104, 4}}));
  EXPECT_EQ(pool.Free(), Ranges({{0, 12}, {100, 4}}));
  EXPECT_EQ(pool.FreeBytes(), 16u);
}

TEST(FreeRanges, TheBoundIsCutInWholeUnits) {
  FreeRanges pool(4);
  Fresh(pool, 40);
  // A third of 40 is 13 and a bit; 12 is the most whole units under it.
  EXPECT_EQ(pool.KeepAtMostBytes(), 52u);
}

TEST(FreeRanges, AFreshRangeNeverRaisesWhatIsHeldAboveTheMostEverInUse) {
  FreeRanges pool(1);
  Fresh(pool, 30);
  Fresh(pool, 10);
  Fresh(pool, 10);
  EXPECT_EQ(pool.HighWaterBytes(), 50u);
  EXPECT_TRUE(pool.Give(100, 10).empty());
  EXPECT_TRUE(pool.Give(200, 10).empty());
  // 30 in use, 20 kept, 15 wanted: 65 would be held where 50 was the most ever in use.
  EXPECT_EQ(pool.MakeRoomFor(15), Ranges({{100, 10}, {205, 5}}));
  EXPECT_EQ(pool.Free(), Ranges({{200, 5}}));
  pool.Adopt(15);
  EXPECT_EQ(pool.InUseBytes() + pool.FreeBytes(), 50u);
  EXPECT_EQ(pool.HighWaterBytes(), 50u);
}

TEST(FreeRanges, TakeAllForgetsEveryFreeRange) {
  FreeRanges pool(1);
  Fresh(pool, 100);
  Fresh(pool, 6);
  Fresh(pool, 4);
  EXPECT_TRUE(pool.Give(10, 6).empty());
  EXPECT_TRUE(pool.Give(30, 4).empty());
  EXPECT_EQ(pool.TakeAll(), Ranges({{10, 6}, {30, 4}}));
  EXPECT_EQ(pool.FreeBytes(), 0u);
  EXPECT_EQ(pool.Take(1), std::nullopt);
}

// Random requests and releases against a model of an address space in units: every unit
// is unmapped, kept or handed out. What the pool hands out must be kept memory, what it
// says to unmap must be kept memory, and its free list must be exactly the runs of kept
// units (merged, never overlapping anything handed out).
class AddressSpaceModel {
 public:
  enum State { kUnmapped, kKept, kHandedOut };
  static constexpr size_t kUnit = 2;

  explicit AddressSpaceModel(size_t units) : state_(units, kUnmapped) {}

  void Expect(size_t unit_index_start, size_t units, State from, State to) {
    for (size_t i = unit_index_start; i < unit_index_start + units; ++i) {
      ASSERT_LT(i, state_.size());
      ASSERT_EQ(state_[i], from) << "unit " << i;
      state_[i] = to;
    }
  }

  void Move(const Range& r, State from, State to) {
    ASSERT_EQ(r.start % kUnit, 0u);
    ASSERT_EQ(r.size % kUnit, 0u);
    ASSERT_GT(r.size, 0u);
    Expect(r.start / kUnit, r.size / kUnit, from, to);
  }

  // Where the caller maps afresh: a random unmapped run, often right after another range.
  uintptr_t Unmapped(size_t units, std::mt19937& rng) {
    for (;;) {
      size_t at = std::uniform_int_distribution<size_t>(0, state_.size() - units)(rng);
      while (at > 0 && state_[at - 1] == kUnmapped && rng() % 4 != 0) --at;
      bool fits = true;
      for (size_t i = at; i < at + units; ++i) fits = fits && state_[i] == kUnmapped;
      if (fits) return at * kUnit;
    }
  }

  std::vector<Range> KeptRuns() const {
    std::vector<Range> runs;
    for (size_t i = 0; i < state_.size(); ++i) {
      if (state_[i] != kKept) continue;
      if (!runs.empty() && runs.back().start + runs.back().size == i * kUnit) {
        runs.back().size += kUnit;
      } else {
        runs.push_back({i * kUnit, kUnit});
      }
    }
    return runs;
  }

  size_t Bytes(State s) const { return std::count(state_.begin(), state_.end(), s) * kUnit; }

 private:
  std::vector<State> state_;
};

TEST(FreeRanges, RandomRequestsAndReleasesNeverOverlapAndStayWithinBounds) {
  std::mt19937 rng(12345);
  FreeRanges pool(AddressSpaceModel::kUnit);
  AddressSpaceModel space(6000);
  std::vector<Range> handed_out;
  size_t most_in_use = 0;
  size_t largest = 0;
  size_t requests = 0;
  size_t reused = 0;
  for (int step = 0; step < 4000; ++step) {
    if (handed_out.size() < 12 && (handed_out.empty() || rng() % 2 == 0)) {
      // A handful of request sizes, as images come in a handful of sizes.
      const size_t units = std::vector<size_t>{3, 5, 9, 14, 40}[rng() % 5];
      const size_t size = units * AddressSpaceModel::kUnit;
      ++requests;
      std::optional<uintptr_t> start = pool.Take(size);
      if (start) {
        ++reused;
        space.Move({*start, size}, AddressSpaceModel::kKept, AddressSpaceModel::kHandedOut);
      } else {
        for (const Range& r : pool.MakeRoomFor(size))
          space.Move(r, AddressSpaceModel::kKept, AddressSpaceModel::kUnmapped);
        start = space.Unmapped(units, rng);
        space.Move({*start, size}, AddressSpaceModel::kUnmapped, AddressSpaceModel::kHandedOut);
        pool.Adopt(size);
      }
      handed_out.push_back({*start, size});
      largest = std::max(largest, size);
    } else {
      const size_t pick = rng() % handed_out.size();
      const Range r = handed_out[pick];
      handed_out.erase(handed_out.begin() + static_cast<std::ptrdiff_t>(pick));
      space.Move(r, AddressSpaceModel::kHandedOut, AddressSpaceModel::kKept);
      for (const Range& cut : pool.Give(r.start, r.size))
        space.Move(cut, AddressSpaceModel::kKept, AddressSpaceModel::kUnmapped);
      ASSERT_LE(pool.FreeBytes(), largest + largest / 3);
    }
    if (HasFatalFailure()) return;
    const size_t in_use = space.Bytes(AddressSpaceModel::kHandedOut);
    most_in_use = std::max(most_in_use, in_use);
    ASSERT_EQ(pool.Free(), space.KeptRuns()) << "step " << step;
    ASSERT_EQ(pool.FreeBytes(), space.Bytes(AddressSpaceModel::kKept));
    ASSERT_EQ(pool.InUseBytes(), in_use);
    ASSERT_LE(in_use + pool.FreeBytes(), most_in_use);
  }
  // With a handful of sizes, most requests are served from kept ranges.
  EXPECT_GT(reused, requests / 2) << reused << " of " << requests;
}

}  // namespace
}  // namespace vantorel
