#include "common/clock.h"

#include <algorithm>

#include "common/event.h"

namespace kvtr {

namespace {
// Enough for every wait of the program: the polling thread watches its stop event and at most
// 63 scanner timers.
constexpr std::size_t kMaxWaitItems = 64;
}  // namespace

Clock::TimePoint Clock::deadlineAfter(Duration duration) const {
  const TimePoint start = now();
  if (duration <= Duration::zero()) return start;
  if (duration >= TimePoint::max() - start) return TimePoint::max();
  return start + duration;
}

int Clock::waitAny(std::span<Waitable* const> items, Duration timeout) {
  return waitAnyUntil(items, deadlineAfter(timeout));
}

int Clock::waitAny(std::initializer_list<Waitable*> items, Duration timeout) {
  return waitAny(std::span<Waitable* const>(items.begin(), items.size()), timeout);
}

int Clock::waitAnyUntil(std::span<Waitable* const> items, TimePoint deadline) {
  const std::size_t count = std::min(items.size(), kMaxWaitItems);
  const Event* wakeEvents[kMaxWaitItems];
  for (std::size_t i = 0; i < count; ++i) wakeEvents[i] = &items[i]->wakeEvent();
  for (;;) {
    const TimePoint current = now();
    // Taking in list order makes the first signalled item the winner.
    for (std::size_t i = 0; i < count; ++i) {
      if (items[i]->tryTake(current)) return static_cast<int>(i);
    }
    if (current >= deadline) return kWaitTimedOut;
    TimePoint wake = deadline;
    for (std::size_t i = 0; i < count; ++i) wake = std::min(wake, items[i]->nextDue());
    block(std::span<const Event* const>(wakeEvents, count), wake);
  }
}

void Clock::sleepFor(Duration duration) {
  (void)waitAnyUntil({}, deadlineAfter(duration));
}

Clock& Clock::system() {
  static SystemClock clock;
  return clock;
}

// ---------------------------------------------------------------- SystemClock

Clock::TimePoint SystemClock::now() const { return std::chrono::steady_clock::now(); }

void SystemClock::block(std::span<const Event* const> events, TimePoint wake) {
  const Duration timeout = wake == TimePoint::max() ? kInfinite : std::max(wake - now(), Duration::zero());
  (void)detail::blockOnEvents(events, timeout);
}

// ---------------------------------------------------------------- ManualClock

ManualClock::ManualClock(Mode mode, TimePoint start) : mode_(mode), now_(start) {}

Clock::TimePoint ManualClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void ManualClock::advance(Duration duration) {
  std::lock_guard lock(mutex_);
  now_ += duration;
  for (Event* sleeper : sleepers_) sleeper->set();
}

void ManualClock::block(std::span<const Event* const> events, TimePoint wake) {
  if (mode_ == Mode::JumpToDeadline) {
    // Something already signalled wins over moving time on. With no deadline there is nothing
    // to jump to: the wait is for another thread's signal alone.
    if (wake == TimePoint::max()) {
      (void)detail::blockOnEvents(events, kInfinite);
      return;
    }
    if (detail::blockOnEvents(events, Duration::zero()) != kWaitTimedOut) return;
    std::lock_guard lock(mutex_);
    if (wake != TimePoint::max()) now_ = std::max(now_, wake);
    return;
  }

  Event moved(EventReset::Automatic);
  {
    std::lock_guard lock(mutex_);
    if (now_ >= wake) return;
    sleepers_.push_back(&moved);
  }
  const Event* all[kMaxWaitItems + 1];
  const std::size_t count = std::min(events.size(), kMaxWaitItems);
  std::copy_n(events.begin(), count, all);
  all[count] = &moved;
  (void)detail::blockOnEvents(std::span<const Event* const>(all, count + 1), kInfinite);
  std::lock_guard lock(mutex_);
  sleepers_.erase(std::find(sleepers_.begin(), sleepers_.end(), &moved));
}

}  // namespace kvtr
