#include "common/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kvtr {
namespace {

using namespace std::chrono_literals;

TEST(Event, ManualResetStaysSetUntilReset) {
  Event e(EventReset::Manual);
  EXPECT_FALSE(e.isSet());
  EXPECT_FALSE(e.wait(0ms));
  e.set();
  e.set();
  EXPECT_TRUE(e.wait(0ms));
  EXPECT_TRUE(e.wait(0ms));
  EXPECT_TRUE(e.isSet());
  e.reset();
  EXPECT_FALSE(e.isSet());
  EXPECT_FALSE(e.wait(1ms));
  Event initially(EventReset::Manual, true);
  EXPECT_TRUE(initially.isSet());
}

TEST(Event, AutoResetReleasesOneWaitPerSet) {
  Event e(EventReset::Automatic);
  e.set();
  e.set();  // setting a set event changes nothing
  EXPECT_TRUE(e.isSet());
  EXPECT_TRUE(e.isSet());  // looking does not take it
  EXPECT_TRUE(e.wait(0ms));
  EXPECT_FALSE(e.wait(0ms));
  EXPECT_FALSE(e.isSet());
}

TEST(Event, AutoResetWakesExactlyOneOfTwoWaiters) {
  Event e(EventReset::Automatic);
  Event bothWaiting(EventReset::Manual);
  std::atomic<int> released{0};
  std::atomic<int> ready{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] {
      if (++ready == 2) bothWaiting.set();
      if (e.wait(300ms)) ++released;
    });
  }
  ASSERT_TRUE(bothWaiting.wait(5s));
  e.set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 1);
}

TEST(Event, SetFromAnotherThreadWakesAnEndlessWait) {
  Event e(EventReset::Manual);
  std::thread setter([&] { e.set(); });
  EXPECT_TRUE(e.wait(Clock::kInfinite));
  setter.join();
}

TEST(WaitAny, FirstSignalledInTheListWins) {
  Event a(EventReset::Automatic);
  Event b(EventReset::Manual);
  Event c(EventReset::Automatic);

  EXPECT_EQ(waitAny({&a, &b, &c}, 0ms), kWaitTimedOut);

  c.set();
  b.set();
  EXPECT_EQ(waitAny({&a, &b, &c}, 0ms), 1);
  EXPECT_TRUE(c.isSet()) << "a losing auto-reset event keeps its signal";
  EXPECT_TRUE(b.isSet()) << "a manual event stays set after winning";
  a.set();
  EXPECT_EQ(waitAny({&a, &b, &c}, 0ms), 0);
  EXPECT_FALSE(a.isSet()) << "a winning auto-reset event is taken";
  b.reset();
  EXPECT_EQ(waitAny({&a, &b, &c}, 0ms), 2);
  EXPECT_EQ(waitAny({&a, &b, &c}, 2ms), kWaitTimedOut);
}

TEST(WaitAny, WakesWhenALaterEventIsSetByAnotherThread) {
  Event stop(EventReset::Manual);
  Event work(EventReset::Automatic);
  std::thread setter([&] { work.set(); });
  EXPECT_EQ(waitAny({&stop, &work}, Clock::kInfinite), 1);
  setter.join();
  EXPECT_FALSE(work.isSet());
}

}  // namespace
}  // namespace kvtr
