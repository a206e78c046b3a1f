// The temporary result file: committed by rename, removed on failure, and removed when
// an interrupting signal ends the process half way through a write.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dehazefile/temp_file_guard.h"

namespace vantorel {
namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::string Template() { return testing::TempDir() + ".guard_test.tmp-XXXXXX"; }

// Runs `body` in a child process that is expected to die of `signal`; returns the name
// of the temporary file the child created (read back through a pipe).
std::string TempFileOfChildKilledBy(int signal, void (*body)(int signal, int report_fd)) {
  int channel[2];
  EXPECT_EQ(::pipe(channel), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    body(signal, channel[1]);
    ::_exit(0);  // not reached when the signal ends the child as it should
  }
  ::close(channel[1]);
  char name[4096] = {};
  ssize_t got = 0, total = 0;
  while ((got = ::read(channel[0], name + total, sizeof name - 1 - total)) > 0) total += got;
  ::close(channel[0]);
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status)) << "child status " << status;
  if (WIFSIGNALED(status)) {
    EXPECT_EQ(WTERMSIG(status), signal);
  }
  return name;
}

void CreateWriteAndGetSignalled(int signal, int report_fd) {
  // Two at once, as two threads of a batch hold them: both go.
  std::string first = Template(), second = Template();
  int first_slot = -1, second_slot = -1;
  const int fd = CreateGuardedTempFile(first, first_slot);
  if (fd < 0 || CreateGuardedTempFile(second, second_slot) < 0) ::_exit(3);
  if (::write(fd, "partial", 7) != 7) ::_exit(4);
  const std::string names = first + "\n" + second;
  if (::write(report_fd, names.c_str(), names.size()) != static_cast<ssize_t>(names.size())) ::_exit(5);
  ::close(report_fd);
  ::raise(signal);
}

TEST(TempFileGuard, InterruptingSignalsRemoveTheFileAndStillEndTheProcess) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    const std::string names = TempFileOfChildKilledBy(signal, CreateWriteAndGetSignalled);
    const size_t newline = names.find('\n');
    ASSERT_NE(newline, std::string::npos) << "signal " << signal;
    for (const std::string& name : {names.substr(0, newline), names.substr(newline + 1)}) {
      ASSERT_FALSE(name.empty()) << "signal " << signal;
      EXPECT_FALSE(Exists(name)) << "signal " << signal << " left " << name;
    }
  }
}

void CommitThenGetSignalled(int signal, int report_fd) {
  std::string path = Template();
  int slot = -1;
  const int fd = CreateGuardedTempFile(path, slot);
  if (fd < 0) ::_exit(3);
  ::close(fd);
  const std::string target = path + ".committed";
  if (!CommitGuardedTempFile(slot, target)) ::_exit(4);
  if (::write(report_fd, target.c_str(), target.size()) != static_cast<ssize_t>(target.size())) ::_exit(5);
  ::close(report_fd);
  ::raise(signal);
}

TEST(TempFileGuard, ACommittedFileSurvivesALaterSignal) {
  const std::string target = TempFileOfChildKilledBy(SIGTERM, CommitThenGetSignalled);
  ASSERT_FALSE(target.empty());
  EXPECT_TRUE(Exists(target));
  std::remove(target.c_str());
}

TEST(TempFileGuard, CommitRenamesAndDiscardRemoves) {
  std::string path = Template();
  int slot = -1;
  int fd = CreateGuardedTempFile(path, slot);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(path.find("XXXXXX"), std::string::npos);
  const std::string target = testing::TempDir() + "guard_test_target";
  ASSERT_TRUE(CommitGuardedTempFile(slot, target));
  EXPECT_FALSE(Exists(path));
  EXPECT_TRUE(Exists(target));
  std::remove(target.c_str());

  path = Template();
  fd = CreateGuardedTempFile(path, slot);
  ASSERT_GE(fd, 0);
  ::close(fd);
  // A rename into a folder that does not exist fails and leaves the file guarded.
  EXPECT_FALSE(CommitGuardedTempFile(slot, testing::TempDir() + "no_such_folder/x"));
  EXPECT_TRUE(Exists(path));
  DiscardGuardedTempFile(slot);
  EXPECT_FALSE(Exists(path));
}

TEST(TempFileGuard, OverlongNamesAreRefused) {
  std::string path(5000, 'a');
  path += "XXXXXX";
  int slot = -1;
  EXPECT_LT(CreateGuardedTempFile(path, slot), 0);
  EXPECT_EQ(slot, -1);
}

}  // namespace
}  // namespace vantorel
