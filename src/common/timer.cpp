#include "common/timer.h"

namespace kvtr {

Timer::Timer(Clock& clock) : clock_(clock) {}

void Timer::start(Clock::Duration firstDue, Clock::Duration period) {
  {
    std::lock_guard lock(mutex_);
    running_ = true;
    due_ = clock_.deadlineAfter(firstDue);
    period_ = period > Clock::Duration::zero() ? period : Clock::Duration::zero();
  }
  signalChange();
}

void Timer::cancel() {
  {
    std::lock_guard lock(mutex_);
    running_ = false;
  }
  signalChange();
}

void Timer::signalChange() {
  // Set before marking: a waiter that sees the mark clears a signal that is already there, and
  // one that comes between the two finds the event set and simply looks again.
  changed_.set();
  changePending_.store(true);
}

bool Timer::isRunning() const {
  std::lock_guard lock(mutex_);
  return running_;
}

bool Timer::tryTake(Clock::TimePoint now) {
  // The change signal only wakes waiters; clearing it here, before the state is read, loses no
  // change that comes later.
  if (changePending_.exchange(false)) changed_.reset();
  std::lock_guard lock(mutex_);
  if (!running_ || now < due_) return false;
  if (period_ == Clock::Duration::zero()) {
    running_ = false;
  } else {
    // Expiries missed while nobody waited fold into this one: the next lies after `now`.
    const auto missed = (now - due_) / period_;
    due_ += period_ * (missed + 1);
  }
  return true;
}

Clock::TimePoint Timer::nextDue() const {
  std::lock_guard lock(mutex_);
  return running_ ? due_ : Clock::TimePoint::max();
}

}  // namespace kvtr
