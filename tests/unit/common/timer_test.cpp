#include "common/timer.h"

#include <gtest/gtest.h>

#include <thread>

namespace kvtr {
namespace {

using namespace std::chrono_literals;

class TimerTest : public ::testing::Test {
 protected:
  Clock::Duration sinceStart() const { return clock_.now() - start_; }
  ManualClock clock_;
  Clock::TimePoint start_ = clock_.now();
  Timer timer_{clock_};
  Event stop_{EventReset::Manual};
};

TEST_F(TimerTest, FiresAtItsPeriod) {
  timer_.start(100ms, 250ms);
  EXPECT_TRUE(timer_.isRunning());
  for (const auto expected : {100ms, 350ms, 600ms}) {
    EXPECT_EQ(clock_.waitAny({&stop_, &timer_}, Clock::kInfinite), 1);
    EXPECT_EQ(sinceStart(), expected);
  }
}

TEST_F(TimerTest, SingleShotFiresOnce) {
  timer_.start(40ms, 0ms);
  EXPECT_EQ(clock_.waitAny({&timer_}, 1s), 0);
  EXPECT_FALSE(timer_.isRunning());
  EXPECT_EQ(clock_.waitAny({&timer_}, 1s), kWaitTimedOut);
}

TEST_F(TimerTest, MissedExpiriesFoldIntoOne) {
  timer_.start(100ms, 100ms);
  clock_.advance(350ms);
  EXPECT_EQ(clock_.waitAny({&timer_}, 0ms), 0);
  EXPECT_EQ(clock_.waitAny({&timer_}, 0ms), kWaitTimedOut) << "three missed expiries give one wake-up";
  EXPECT_EQ(clock_.waitAny({&timer_}, Clock::kInfinite), 0);
  EXPECT_EQ(sinceStart(), 400ms);
}

TEST_F(TimerTest, CancelledTimerNeverFires) {
  timer_.start(10ms, 10ms);
  timer_.cancel();
  EXPECT_FALSE(timer_.isRunning());
  EXPECT_EQ(clock_.waitAny({&timer_}, 1s), kWaitTimedOut);
}

TEST_F(TimerTest, ListOrderDecidesBetweenEventAndDueTimer) {
  timer_.start(10ms, 10ms);
  clock_.advance(10ms);
  stop_.set();
  EXPECT_EQ(clock_.waitAny({&stop_, &timer_}, 0ms), 0);
  EXPECT_EQ(clock_.waitAny({&timer_, &stop_}, 0ms), 0);
  EXPECT_EQ(clock_.waitAny({&timer_, &stop_}, 0ms), 1) << "the timer's expiry was taken";
}

TEST(TimerSystemClock, StartingWakesAThreadAlreadyWaiting) {
  Timer timer;
  Event stop(EventReset::Manual);
  Event waiting(EventReset::Manual);
  int result = 0;
  std::thread waiter([&] {
    waiting.set();
    result = waitAny({&stop, &timer}, Clock::kInfinite);
  });
  ASSERT_TRUE(waiting.wait(5s));
  timer.start(1ms, 0ms);
  waiter.join();
  EXPECT_EQ(result, 1);
}

}  // namespace
}  // namespace kvtr
