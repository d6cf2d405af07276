// Ctrl+C and termination requests while a command talks to the module.
#pragma once

#include <signal.h>

namespace kvtr {

class Event;
class ExchangeEngine;

// While it lives, Ctrl+C (or SIGTERM) stops the running work as "Прервать!" does: the engine's
// task is aborted and `event` is set, whichever are given. A second Ctrl+C ends the program at
// once. The handler only sets an event and stores words, both safe in a signal handler.
class InterruptScope {
 public:
  InterruptScope(ExchangeEngine* engine, Event* event);
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
};

}  // namespace kvtr
