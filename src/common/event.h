// Events and the wait on several of them. An Event is set and reset by any thread; a manual-reset
// event stays set until reset, an auto-reset event releases exactly one waiter per set.
// Every event has a system object behind it (an eventfd on POSIX, an event handle on Windows), so
// a wait on a device can watch an event beside the device itself: the serial port's poll() wakes
// the moment its stop event is set.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <span>

#include "common/clock.h"

namespace kvtr {

// Anything a wait can watch: events and timers.
class Waitable {
 public:
  virtual ~Waitable() = default;

  // Takes the signal when it is there: true when signalled at `now`. An auto-reset object is
  // reset by being taken; a manual-reset one stays signalled.
  virtual bool tryTake(Clock::TimePoint now) = 0;

  // When the object will signal by itself (a timer's next expiry); TimePoint::max() when never.
  virtual Clock::TimePoint nextDue() const { return Clock::TimePoint::max(); }

  // The event whose system object wakes a blocked wait when the object may have changed.
  virtual const Event& wakeEvent() const = 0;
};

enum class EventReset { Manual, Automatic };

class Event final : public Waitable {
 public:
  explicit Event(EventReset reset = EventReset::Manual, bool initiallySet = false);
  ~Event() override;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();

  // Looks without taking: an auto-reset event stays set.
  [[nodiscard]] bool isSet() const;

  // Waits on the system clock; true when the event was signalled (and taken if auto-reset).
  [[nodiscard]] bool wait(Clock::Duration timeout = Clock::kInfinite);

  bool isAutoReset() const { return reset_ == EventReset::Automatic; }

  // The system object: on POSIX a descriptor that polls readable while the event is set, on
  // Windows the event handle.
  std::intptr_t nativeHandle() const { return handle_; }

  bool tryTake(Clock::TimePoint now) override;
  const Event& wakeEvent() const override { return *this; }

 private:
  bool take();

  const EventReset reset_;
  std::intptr_t handle_;
  // Counts the sets. The release on set and the acquire when a waiter sees the event set make
  // what the setting thread wrote before set() visible to the waiter in the language's memory
  // model too, not only through the system call (which race detectors cannot see).
  mutable std::atomic<std::uint64_t> sets_{0};
  // A manual-reset event's state kept beside its system object, changed together with it under
  // the lock, so that looking at it (the serial port does before every request) costs no call
  // into the system.
  std::mutex manualLock_;
  std::atomic<bool> manualSet_{false};
};

// Waits on the system clock; see Clock::waitAny.
[[nodiscard]] int waitAny(std::span<Waitable* const> items, Clock::Duration timeout);
[[nodiscard]] int waitAny(std::initializer_list<Waitable*> items, Clock::Duration timeout);

namespace detail {
// The system wait under every clock: returns when one of `events` is signalled (its index, the
// signal left in place) or after `timeout` (kWaitTimedOut). Clock::kInfinite waits without limit.
int blockOnEvents(std::span<const Event* const> events, Clock::Duration timeout);
}  // namespace detail

}  // namespace kvtr
