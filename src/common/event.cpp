#include "common/event.h"

namespace kvtr {

bool Event::tryTake(Clock::TimePoint) { return take(); }

bool Event::wait(Clock::Duration timeout) {
  return Clock::system().waitAny({this}, timeout) == 0;
}

int waitAny(std::span<Waitable* const> items, Clock::Duration timeout) {
  return Clock::system().waitAny(items, timeout);
}

int waitAny(std::initializer_list<Waitable*> items, Clock::Duration timeout) {
  return Clock::system().waitAny(items, timeout);
}

}  // namespace kvtr
