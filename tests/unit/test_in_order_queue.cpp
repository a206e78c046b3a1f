// The queue between a clip's dehazing threads and its writer: items come out in their
// numbers' order whatever order they were put in, and a stop ends the wait.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "video/in_order_queue.h"

namespace vantorel {
namespace {

TEST(InOrderQueue, TakesItemsInTheirOrderWhateverOrderTheyCameIn) {
  InOrderQueue<int> queue;
  for (int number : {2, 0, 3, 1}) ASSERT_TRUE(queue.Put(number, 10 * number));
  queue.Close();
  std::vector<int> taken;
  int item = 0;
  while (queue.Pop(item)) taken.push_back(item);
  EXPECT_EQ(taken, (std::vector<int>{0, 10, 20, 30}));
}

TEST(InOrderQueue, WaitsForTheMissingItemFromAnotherThread) {
  InOrderQueue<int> queue;
  ASSERT_TRUE(queue.Put(1, 11));
  std::thread late([&] { queue.Put(0, 10); });
  int first = 0, second = 0;
  EXPECT_TRUE(queue.Pop(first));
  EXPECT_TRUE(queue.Pop(second));
  late.join();
  EXPECT_EQ(first, 10);
  EXPECT_EQ(second, 11);
}

TEST(InOrderQueue, AStopDropsWhatWaitsBehindAMissingItemAndRefusesMore) {
  InOrderQueue<int> queue;
  ASSERT_TRUE(queue.Put(0, 10));
  ASSERT_TRUE(queue.Put(2, 12));
  std::thread stopping([&] { queue.Close(); });
  int item = 0;
  EXPECT_TRUE(queue.Pop(item));
  EXPECT_EQ(item, 10);
  EXPECT_FALSE(queue.Pop(item));  // 1 never came: no wait for it after the stop
  stopping.join();
  EXPECT_FALSE(queue.Put(1, 11));
}

}  // namespace
}  // namespace vantorel
