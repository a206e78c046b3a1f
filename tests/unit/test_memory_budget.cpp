// The memory a picture needs against what the process may use: the limits are read
// from fake /proc and /sys files here, so every kind of limit can be checked.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>

#include "dehazefile/memory_budget.h"

namespace vantorel {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

class FakeCgroupTree : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "cgroup_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

  void Write(const std::string& relative, const std::string& text) {
    std::string dir = root_;
    size_t start = 0;
    for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', start)) {
      dir = root_ + "/" + relative.substr(0, slash);
      ::mkdir(dir.c_str(), 0755);
      start = slash + 1;
    }
    std::ofstream(root_ + "/" + relative) << text;
  }

  std::string root_;
};

TEST_F(FakeCgroupTree, VersionTwoCountsLimitLessUseButNotDroppableCache) {
  Write("memory.max", "max\n");
  Write("job/memory.max", std::to_string(1024 * kMiB) + "\n");
  Write("job/memory.current", std::to_string(512 * kMiB) + "\n");
  Write("job/memory.stat", "anon 100\ninactive_file " + std::to_string(128 * kMiB) + "\nactive_file 5\n");
  EXPECT_EQ(CgroupHeadroom("0::/job\n", root_), (1024 - 512 + 128) * kMiB);
}

TEST_F(FakeCgroupTree, TheTightestLevelOnTheWayUpWins) {
  Write("outer/memory.max", std::to_string(300 * kMiB));
  Write("outer/memory.current", std::to_string(200 * kMiB));
  Write("outer/inner/memory.max", std::to_string(2048 * kMiB));
  Write("outer/inner/memory.current", std::to_string(10 * kMiB));
  EXPECT_EQ(CgroupHeadroom("0::/outer/inner\n", root_), 100 * kMiB);
}

TEST_F(FakeCgroupTree, VersionOneIsFoundThroughItsMemoryLine) {
  // A hybrid layout: the unified hierarchy has no memory files, the v1 one has the limit.
  Write("memory/box/memory.limit_in_bytes", std::to_string(900 * kMiB));
  Write("memory/box/memory.usage_in_bytes", std::to_string(400 * kMiB));
  Write("memory/box/memory.stat", "cache 1\ntotal_inactive_file " + std::to_string(50 * kMiB) + "\n");
  Write("memory/memory.limit_in_bytes", "9223372036854771712\n");
  const std::string proc = "9:name=systemd:/\n4:cpu,memory:/box\n0::/\n";
  EXPECT_EQ(CgroupHeadroom(proc, root_), (900 - 400 + 50) * kMiB);
}

TEST_F(FakeCgroupTree, NoLimitAnywhereIsUnlimited) {
  Write("memory/memory.limit_in_bytes", "9223372036854771712\n");
  Write("memory.max", "max\n");
  EXPECT_EQ(CgroupHeadroom("4:memory:/\n0::/\n", root_), kUnlimitedBytes);
  EXPECT_EQ(CgroupHeadroom("", root_), kUnlimitedBytes);
  EXPECT_EQ(CgroupHeadroom("4:memory:/gone\n", root_ + "/missing"), kUnlimitedBytes);
}

TEST_F(FakeCgroupTree, UseAboveTheLimitLeavesNothing) {
  Write("job/memory.max", std::to_string(100 * kMiB));
  Write("job/memory.current", std::to_string(150 * kMiB));
  EXPECT_EQ(CgroupHeadroom("0::/job", root_), 0u);
}

TEST(MemoryLimits, MemAvailableIsReadInKibibytes) {
  const std::string meminfo = "MemTotal:       24000000 kB\nMemFree:  1 kB\nMemAvailable:   2048 kB\n";
  EXPECT_EQ(MemAvailableFromMeminfo(meminfo), 2048u * 1024u);
  EXPECT_EQ(MemAvailableFromMeminfo("MemTotal: 5 kB\n"), kUnlimitedBytes);
}

TEST(MemoryLimits, AddressSpaceHeadroomIsTheLimitLessWhatIsMapped) {
  const std::string status = "Name:\tvantorel\nVmPeak:\t  999999 kB\nVmSize:\t  204800 kB\n";
  EXPECT_EQ(AddressSpaceHeadroom(1024 * kMiB, status), (1024 - 200) * kMiB);
  EXPECT_EQ(AddressSpaceHeadroom(100 * kMiB, status), 0u);
  EXPECT_EQ(AddressSpaceHeadroom(kUnlimitedBytes, status), kUnlimitedBytes);
}

TEST(MemoryLimits, TheSmallestLimitCounts) {
  MemoryLimits limits;
  EXPECT_EQ(limits.Smallest(), kUnlimitedBytes);
  limits.available = 5 * kMiB;
  limits.cgroup_headroom = 3 * kMiB;
  limits.address_space_headroom = 4 * kMiB;
  EXPECT_EQ(limits.Smallest(), 3 * kMiB);
}

TEST(MemoryNeed, GrowsWithThePixelCountAndNeverOverflows) {
  const uint64_t small = PipelinePeakBytes(100, 100);
  const uint64_t four_times = PipelinePeakBytes(200, 200);
  EXPECT_GT(small, 0u);
  // Linear in the pixel count apart from a fixed allowance.
  EXPECT_EQ(four_times - small, 3 * (PipelinePeakBytes(200, 100) - PipelinePeakBytes(100, 100)));
  EXPECT_GT(PipelinePeakBytes(100000, 100000), 100000ull * 100000ull * 20);
  EXPECT_EQ(PipelinePeakBytes(UINT64_MAX / 2, 3), kUnlimitedBytes);
  EXPECT_EQ(DecodedPictureBytes(100000, 100000), 3ull * 100000 * 100000);
}

TEST(MemoryNeed, RefusalNamesThePictureSizeAndBothAmounts) {
  const std::string text = MemoryRefusal(100000, 100000, 30000000000ull, 512 * kMiB);
  EXPECT_NE(text.find("100000 x 100000 pixels"), std::string::npos) << text;
  EXPECT_NE(text.find("27.9 GiB"), std::string::npos) << text;
  EXPECT_NE(text.find("512 MiB"), std::string::npos) << text;
}

}  // namespace
}  // namespace vantorel
