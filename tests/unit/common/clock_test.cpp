#include "common/clock.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/event.h"

namespace kvtr {
namespace {

using namespace std::chrono_literals;

TEST(ManualClock, WaitJumpsToItsDeadline) {
  ManualClock clock;
  const auto start = clock.now();
  Event e(EventReset::Manual);
  EXPECT_EQ(clock.waitAny({&e}, 5s), kWaitTimedOut);
  EXPECT_EQ(clock.now() - start, 5s);
  clock.sleepFor(250ms);
  EXPECT_EQ(clock.now() - start, 5250ms);
}

TEST(ManualClock, SignalledEventWinsWithoutMovingTime) {
  ManualClock clock;
  const auto start = clock.now();
  Event e(EventReset::Manual);
  e.set();
  EXPECT_EQ(clock.waitAny({&e}, 5s), 0);
  EXPECT_EQ(clock.now(), start);
}

TEST(ManualClock, ManualModeWaitsUntilAdvancedPastTheDeadline) {
  ManualClock clock(ManualClock::Mode::Manual);
  const auto start = clock.now();
  Event waiting(EventReset::Manual);
  Event never(EventReset::Manual);
  int result = 0;
  Clock::TimePoint returnedAt{};
  std::thread waiter([&] {
    Waitable* items[] = {&never};
    waiting.set();
    result = clock.waitAnyUntil(items, start + 100ms);
    returnedAt = clock.now();
  });
  ASSERT_TRUE(waiting.wait(5s));
  clock.advance(60ms);
  clock.advance(60ms);
  waiter.join();
  EXPECT_EQ(result, kWaitTimedOut);
  // Not released by the first step, which stopped short of the deadline.
  EXPECT_EQ(returnedAt - start, 120ms);
}

TEST(ManualClock, ManualModeWaitEndsOnAnEvent) {
  ManualClock clock(ManualClock::Mode::Manual);
  Event e(EventReset::Automatic);
  std::thread setter([&] { e.set(); });
  EXPECT_EQ(clock.waitAny({&e}, 1h), 0);
  setter.join();
}

TEST(ManualClock, JumpModeWaitWithoutDeadlineBlocksUntilSignalled) {
  // Nothing to jump to: the wait must block for the other thread's signal, not spin or return.
  ManualClock clock(ManualClock::Mode::JumpToDeadline);
  Event e(EventReset::Automatic);
  Event other(EventReset::Manual);
  const auto start = clock.now();
  std::thread setter([&] { e.set(); });
  EXPECT_EQ(clock.waitAny({&other, &e}, Clock::kInfinite), 1);
  setter.join();
  EXPECT_EQ(clock.now(), start) << "a wait without deadline must not move the clock";
}

TEST(Clock, DeadlinesSaturateInsteadOfOverflowing) {
  ManualClock clock(ManualClock::Mode::JumpToDeadline, Clock::TimePoint{} + 1h);
  EXPECT_EQ(clock.deadlineAfter(Clock::kInfinite), Clock::TimePoint::max());
  EXPECT_EQ(clock.deadlineAfter(-5s), clock.now());
  EXPECT_EQ(clock.deadlineAfter(2s), clock.now() + 2s);
}

TEST(SystemClock, SleepAndTimeOutReturn) {
  Event e(EventReset::Manual);
  const auto before = Clock::system().now();
  EXPECT_EQ(Clock::system().waitAny({&e}, 2ms), kWaitTimedOut);
  Clock::system().sleepFor(1ms);
  EXPECT_GE(Clock::system().now() - before, 3ms) << "a wait must not return before its time";
}

}  // namespace
}  // namespace kvtr
