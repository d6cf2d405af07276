// Time as the program's waits see it. Every time-out, retry gap and polling period asks a Clock
// for "now" and blocks through it, so the same code runs on the steady system clock in the program
// and on a manual clock in tests, where time moves only when the test says so.
#pragma once

#include <chrono>
#include <initializer_list>
#include <mutex>
#include <span>
#include <vector>

namespace kvtr {

class Event;
class Waitable;

// Result of a wait that ended because its time ran out.
inline constexpr int kWaitTimedOut = -1;

class Clock {
 public:
  using Duration = std::chrono::steady_clock::duration;
  using TimePoint = std::chrono::steady_clock::time_point;

  // A time-out that never ends.
  static constexpr Duration kInfinite = Duration::max();

  virtual ~Clock() = default;

  virtual TimePoint now() const = 0;

  // Waits until one of `items` is signalled or `timeout` has passed. When several are
  // signalled the first in the list wins; an auto-reset item is reset by winning.
  // Returns the winner's index or kWaitTimedOut.
  [[nodiscard]] int waitAny(std::span<Waitable* const> items, Duration timeout);
  [[nodiscard]] int waitAny(std::initializer_list<Waitable*> items, Duration timeout);
  [[nodiscard]] int waitAnyUntil(std::span<Waitable* const> items, TimePoint deadline);

  void sleepFor(Duration duration);

  // now + duration, held at TimePoint::max() instead of overflowing.
  TimePoint deadlineAfter(Duration duration) const;

  // The steady system clock, shared by the whole program.
  static Clock& system();

 protected:
  // Blocks until one of `events` may be signalled or this clock reaches `wake`, whichever is
  // first. It takes no signal: waitAnyUntil checks the items itself afterwards, so a spurious
  // return costs one more round and nothing else.
  virtual void block(std::span<const Event* const> events, TimePoint wake) = 0;
};

// The steady system clock.
class SystemClock final : public Clock {
 public:
  TimePoint now() const override;

 protected:
  void block(std::span<const Event* const> events, TimePoint wake) override;
};

// A clock for tests. In JumpToDeadline mode a wait that finds nothing signalled moves the clock
// to its deadline at once, like a scheduler that runs to the next timer; a single-threaded test
// of retries, gaps and periods then runs without sleeping. In Manual mode a wait blocks until
// another thread moves the clock past its deadline with advance() or signals one of its events.
class ManualClock final : public Clock {
 public:
  enum class Mode { JumpToDeadline, Manual };

  explicit ManualClock(Mode mode = Mode::JumpToDeadline, TimePoint start = TimePoint{});

  TimePoint now() const override;
  void advance(Duration duration);

 protected:
  void block(std::span<const Event* const> events, TimePoint wake) override;

 private:
  const Mode mode_;
  mutable std::mutex mutex_;
  TimePoint now_;
  std::vector<Event*> sleepers_;  // one wake-up event per thread blocked in Manual mode
};

}  // namespace kvtr
