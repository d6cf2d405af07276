// Ctrl+C and termination requests while a command talks to the module.
#pragma once

#include <memory>

namespace kvtr {

class Event;
class ExchangeEngine;

// While it lives, Ctrl+C (or a termination request: SIGTERM on POSIX; Ctrl+Break and closing the
// console on Windows) stops the running work as "Прервать!" does: the engine's task is aborted and
// `event` is set, whichever are given. A second Ctrl+C ends the program at once.
class InterruptScope {
 public:
  InterruptScope(ExchangeEngine* engine, Event* event);
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  // What the operating system needs kept for the scope: the handlers to put back on POSIX.
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

}  // namespace kvtr
