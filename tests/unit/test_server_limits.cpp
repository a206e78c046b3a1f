// The web server's guards and bounds: which Host and Origin it answers, how many pictures
// it keeps, and how much work it runs at once.
#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "server/picture_store.h"
#include "server/request_guard.h"
#include "server/work_gate.h"

namespace vantorel {
namespace {

using namespace std::chrono_literals;

bool Allowed(const RequestGuard& guard, const std::string& host, const std::string& origin = "",
             const std::string& fetch_site = "", const std::string& referer = "") {
  return guard.Refusal(host, origin, referer, fetch_site).empty();
}

TEST(RequestGuard, AnswersOnlyItsOwnAddressAndLocalhostOnItsPort) {
  const RequestGuard guard("127.0.0.1", 8080);
  EXPECT_TRUE(Allowed(guard, "127.0.0.1:8080"));
  EXPECT_TRUE(Allowed(guard, "localhost:8080"));
  EXPECT_TRUE(Allowed(guard, "LocalHost:8080"));
  for (const char* host : {"evil.example:8080", "127.0.0.1:8081", "127.0.0.1", "", "127.0.0.1:80x",
                           "127.0.0.1:08080x", "[::1]:8080", "localhost.evil.example:8080", "127.0.0.1:8080:8080"}) {
    EXPECT_FALSE(Allowed(guard, host)) << host;
  }
  // Without a port, a Host names port 80.
  EXPECT_TRUE(Allowed(RequestGuard("127.0.0.1", 80), "localhost"));
}

TEST(RequestGuard, RefusesOtherOriginsAndCrossSiteFetches) {
  const RequestGuard guard("127.0.0.1", 8080);
  EXPECT_TRUE(Allowed(guard, "127.0.0.1:8080", "http://127.0.0.1:8080"));
  EXPECT_TRUE(Allowed(guard, "localhost:8080", "http://localhost:8080", "same-origin"));
  EXPECT_TRUE(Allowed(guard, "localhost:8080", "", "none"));
  for (const char* origin : {"http://evil.example", "null", "http://localhost:8080", "https://127.0.0.1:8080",
                             "http://127.0.0.1:8081"}) {
    EXPECT_FALSE(Allowed(guard, "127.0.0.1:8080", origin)) << origin;
  }
  EXPECT_FALSE(Allowed(guard, "127.0.0.1:8080", "", "cross-site"));
  EXPECT_FALSE(Allowed(guard, "127.0.0.1:8080", "", "same-site"));
  // A form posted from another site may carry no Origin, but its Referer names that site.
  EXPECT_TRUE(Allowed(guard, "127.0.0.1:8080", "", "", "http://127.0.0.1:8080/?x=1"));
  EXPECT_TRUE(Allowed(guard, "127.0.0.1:8080", "", "", "http://127.0.0.1:8080"));
  for (const char* referer : {"http://evil.example/", "http://127.0.0.1:8080.evil.example/", "https://127.0.0.1:8080/",
                              "http://127.0.0.1:8081/", "http://localhost:8080/", "about:blank"}) {
    EXPECT_FALSE(Allowed(guard, "127.0.0.1:8080", "", "", referer)) << referer;
  }
}

TEST(RequestGuard, OnEveryAddressTakesAddressLiteralsButNoOtherNames) {
  const RequestGuard guard("0.0.0.0", 8080);
  EXPECT_TRUE(Allowed(guard, "192.168.1.20:8080"));
  EXPECT_TRUE(Allowed(guard, "[fe80::1]:8080"));
  EXPECT_TRUE(Allowed(guard, "localhost:8080"));
  EXPECT_FALSE(Allowed(guard, "rebound.evil.example:8080"));
  EXPECT_FALSE(Allowed(guard, "192.168.1.20:8081"));
  const RequestGuard v6("::1", 9000);
  EXPECT_TRUE(Allowed(v6, "[::1]:9000", "http://[::1]:9000"));
  EXPECT_FALSE(Allowed(v6, "127.0.0.1:9000"));
}

TEST(PictureStore, DropsTheLeastRecentlyUsedBeyondTheCount) {
  PictureStore<int> store(2, 100);
  const std::string a = store.Add(std::make_shared<int>(1), 30);
  const std::string b = store.Add(std::make_shared<int>(2), 30);
  ASSERT_NE(store.Find(a), nullptr);  // a is now the more recently used
  const std::string c = store.Add(std::make_shared<int>(3), 30);
  EXPECT_EQ(store.Find(b), nullptr);
  EXPECT_EQ(*store.Find(a), 1);
  EXPECT_EQ(*store.Find(c), 3);
  EXPECT_EQ(store.HeldBytes(), 60u);
}

TEST(PictureStore, DropsTheLeastRecentlyUsedUntilTheBytesFit) {
  PictureStore<int> store(10, 100);
  const std::string x = store.Add(std::make_shared<int>(1), 60);
  const std::string y = store.Add(std::make_shared<int>(2), 30);
  ASSERT_NE(store.Find(x), nullptr);
  const std::string z = store.Add(std::make_shared<int>(3), 40);  // 130 > 100: y goes, x stays
  EXPECT_EQ(store.Find(y), nullptr);
  EXPECT_NE(store.Find(x), nullptr);
  EXPECT_NE(store.Find(z), nullptr);
  EXPECT_EQ(store.HeldBytes(), 100u);
  store.Add(std::make_shared<int>(4), 100);  // alone it fits: both others go
  EXPECT_EQ(store.Find(x), nullptr);
  EXPECT_EQ(store.Find(z), nullptr);
  EXPECT_EQ(store.HeldBytes(), 100u);
}

TEST(PictureStore, RefusesAnItemOverTheBudgetWithoutDroppingOthers) {
  PictureStore<int> store(4, 100);
  const std::string kept = store.Add(std::make_shared<int>(1), 100);
  EXPECT_EQ(store.Add(std::make_shared<int>(2), 101), "");
  EXPECT_NE(store.Find(kept), nullptr);
  EXPECT_TRUE(store.Remove(kept));
  EXPECT_FALSE(store.Remove(kept));
  EXPECT_EQ(store.HeldBytes(), 0u);
}

TEST(PictureStore, IdsAre32HexDigitsAndDistinct) {
  PictureStore<int> store(1000, 1000);
  std::set<std::string> ids;
  for (int i = 0; i < 200; ++i) {
    const std::string id = store.Add(std::make_shared<int>(i), 1);
    ASSERT_EQ(id.size(), 32u);
    ASSERT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 200u);
}

TEST(WorkGate, BoundsBytesAndRefusesWhatCanNeverFit) {
  WorkGate gate(3, 100, 4, 50ms);
  WorkGate::Pass first, second, third;
  EXPECT_EQ(gate.Enter(60, {}, first), WorkGate::Admission::kAdmitted);
  EXPECT_EQ(gate.Enter(50, {}, second), WorkGate::Admission::kBusy);  // 110 > 100 for the whole wait
  EXPECT_EQ(gate.Enter(40, {}, third), WorkGate::Admission::kAdmitted);
  WorkGate::Pass never;
  EXPECT_EQ(gate.Enter(101, {}, never), WorkGate::Admission::kTooLarge);
}

TEST(WorkGate, QueuedWorkRunsWhenAPlaceFreesAndNotBefore) {
  WorkGate gate(1, 100, 1, 10s);
  auto first = std::make_unique<WorkGate::Pass>();
  ASSERT_EQ(gate.Enter(10, {}, *first), WorkGate::Admission::kAdmitted);
  std::atomic<bool> admitted{false};
  std::thread waiter([&] {
    WorkGate::Pass pass;
    admitted = gate.Enter(10, {}, pass) == WorkGate::Admission::kAdmitted;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(admitted);
  // One waits already: a third is turned away at once.
  WorkGate::Pass third;
  EXPECT_EQ(gate.Enter(10, {}, third), WorkGate::Admission::kBusy);
  first.reset();
  waiter.join();
  EXPECT_TRUE(admitted);
}

TEST(WorkGate, WaitingWorkGivesUpWhenSuperseded) {
  WorkGate gate(1, 100, 4, 10s);
  WorkGate::Pass running;
  ASSERT_EQ(gate.Enter(10, {}, running), WorkGate::Admission::kAdmitted);
  std::atomic<bool> newer{false};
  std::atomic<int> outcome{-1};
  std::thread waiter([&] {
    WorkGate::Pass pass;
    outcome = static_cast<int>(gate.Enter(10, [&] { return newer.load(); }, pass));
  });
  std::this_thread::sleep_for(50ms);
  newer = true;
  gate.Wake();
  waiter.join();
  EXPECT_EQ(outcome, static_cast<int>(WorkGate::Admission::kSuperseded));
}

}  // namespace
}  // namespace vantorel
