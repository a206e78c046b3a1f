// The batch's default number of pictures at once: the threads, the memory, the pictures.
#include "cli/batch_jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

// A picture that does not fit beside those in progress waits for them; one too large for
// the whole budget still starts, alone; a stop releases the waiting without letting them in.
TEST(MemoryGate, WaitsForRoomAndLetsTheTooLargeRunAlone) {
  MemoryGate gate(100);
  ASSERT_TRUE(gate.Enter(60));
  std::atomic<int> entered{0};
  std::thread second([&] {
    if (gate.Enter(61)) entered = 1;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(entered, 0) << "entered beside a picture it does not fit with";
  ASSERT_TRUE(gate.Enter(40));  // fits beside the first, exactly
  gate.Leave(60);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(entered, 0) << "entered beside the 40 still in progress";
  gate.Leave(40);
  second.join();
  EXPECT_EQ(entered, 1);
  gate.Leave(61);

  ASSERT_TRUE(gate.Enter(500));  // alone, though larger than the budget
  std::atomic<int> small{0};
  std::thread waiter([&] { small = gate.Enter(1) ? 1 : 2; });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(small, 0) << "nothing fits beside a picture over the budget";
  gate.Stop();
  waiter.join();
  EXPECT_EQ(small, 2);
  EXPECT_FALSE(gate.Enter(1));
}

}  // namespace
}  // namespace vantorel
