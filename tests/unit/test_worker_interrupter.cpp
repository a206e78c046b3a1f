// A stop reaches a batch's worker that is blocked in a call that never returns by itself.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/batch_signals.h"

namespace vantorel {
namespace {

TEST(WorkerInterrupter, BreaksAnOpenBlockedOnAFifo) {
  const std::string fifo = testing::TempDir() + "interrupter_test.fifo";
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto interrupter = WorkerInterrupter::Make();
  std::atomic<int> opened{-2}, error{0};
  std::thread worker([&] {
    const InterruptibleScope scope(*interrupter);
    const int fd = ::open(fifo.c_str(), O_RDONLY);  // no writer: blocks
    error = errno;
    opened = fd;
    if (fd >= 0) ::close(fd);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(opened, -2) << "the open should block until interrupted";
  interrupter->InterruptAll();
  for (int i = 0; i < 200 && opened == -2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (opened == -2) {
    // Not interrupted: release the reader with a writer, so that the test ends and fails.
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    worker.join();
    if (writer >= 0) ::close(writer);
    FAIL() << "the blocked open was not interrupted";
  }
  worker.join();
  EXPECT_EQ(opened, -1);
  EXPECT_EQ(error, EINTR);
  ::unlink(fifo.c_str());
}

}  // namespace
}  // namespace vantorel
