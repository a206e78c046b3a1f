// The batch's default number of pictures at once: the threads, the memory, the pictures.
#include "cli/batch_jobs.h"

#include <gtest/gtest.h>

#include "dehazefile/memory_budget.h"

namespace vantorel {
namespace {

uint64_t Peak(uint64_t pixels) { return DecodedPictureBytes(pixels, 1) + PipelinePeakBytes(pixels, 1); }

TEST(BatchJobs, BoundedByThreadsMemoryAndPictures) {
  const std::vector<uint64_t> small_and_large = {1'000'000, 16'000'000, 4'000'000};
  const uint64_t plenty = 1ull << 40;
  EXPECT_EQ(DefaultJobs(small_and_large, 2, plenty, false), 2);
  EXPECT_EQ(DefaultJobs(small_and_large, 8, plenty, false), 3);  // no more than the pictures
  // Room for two of the largest but not three; for one alone; for none (still one).
  EXPECT_EQ(DefaultJobs(small_and_large, 8, 2 * Peak(16'000'000) + 1, false), 2);
  EXPECT_EQ(DefaultJobs(small_and_large, 8, 2 * Peak(16'000'000) - 1, false), 1);
  EXPECT_EQ(DefaultJobs(small_and_large, 8, 0, false), 1);
  // The maps' floats count too.
  EXPECT_EQ(DefaultJobs(small_and_large, 8, 2 * Peak(16'000'000) + 1, true), 1);
  // Unknown sizes are taken as the largest known.
  EXPECT_EQ(DefaultJobs({0, 16'000'000, 0}, 8, 3 * Peak(16'000'000), false), 3);
  EXPECT_EQ(DefaultJobs({0, 16'000'000, 0}, 8, 3 * Peak(16'000'000) - 1, false), 2);
}

}  // namespace
}  // namespace vantorel
