// A waitable timer: signals at its first expiry and then once every period. Each expiry releases
// exactly one waiter; expiries that pass while nobody waits fold into one, so a slow reader is
// never flooded with a backlog. It runs on the clock it was made with, and a wait on it must use
// the same clock (on a manual clock the periods pass without sleeping).
#pragma once

#include <atomic>
#include <mutex>

#include "common/clock.h"
#include "common/event.h"

namespace kvtr {

class Timer final : public Waitable {
 public:
  explicit Timer(Clock& clock = Clock::system());

  // First expiry `firstDue` from now, then every `period`; a zero period makes a single shot.
  // Starting a running timer starts it afresh.
  void start(Clock::Duration firstDue, Clock::Duration period);
  void cancel();
  [[nodiscard]] bool isRunning() const;

  bool tryTake(Clock::TimePoint now) override;
  Clock::TimePoint nextDue() const override;
  const Event& wakeEvent() const override { return changed_; }

 private:
  void signalChange();

  Clock& clock_;
  mutable std::mutex mutex_;
  bool running_ = false;
  Clock::TimePoint due_{};
  Clock::Duration period_{};
  // Set on every start and cancel, so a thread already waiting recomputes its wake-up time.
  Event changed_{EventReset::Automatic};
  // changed_ may be set: spares an idle timer the system call that clears it on every wait.
  std::atomic<bool> changePending_{false};
};

}  // namespace kvtr
