// The library's thread count from VANTOREL_THREADS: 1 to 256 taken, anything else ignored
// (the machine's cores), never wrapped or cut to 256.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "vantorel/dehaze.h"

namespace vantorel {
namespace {

TEST(ThreadCount, TakesOneTo256AndIgnoresTheRest) {
  SetThreadCount(0);
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  for (const auto& [text, expected] : std::initializer_list<std::pair<const char*, int>>{
           {"1", 1}, {"7", 7}, {"256", 256}, {"257", cores}, {"18446744073709551617", cores},
           {"9223372036854775807", cores}, {"0", cores}, {"-3", cores}, {"abc", cores},
           // The command line refuses what is not taken here: the same reading.
           {"+4", 4}, {"007", 7}, {" 4", cores}, {"4 ", cores}, {"+", cores}, {"", cores}}) {
    setenv("VANTOREL_THREADS", text, 1);
    EXPECT_EQ(ThreadCount(), expected) << "VANTOREL_THREADS=" << text;
  }
  unsetenv("VANTOREL_THREADS");
  SetThreadCount(1000);
  EXPECT_EQ(ThreadCount(), 256);
  SetThreadCount(0);
}

}  // namespace
}  // namespace vantorel
