#include "interrupt_scope.h"

#include <signal.h>

#include <atomic>

#include "common/event.h"
#include "exchange/exchange_engine.h"

namespace kvtr {

namespace {

std::atomic<ExchangeEngine*> interruptedEngine{nullptr};
std::atomic<Event*> interruptEvent{nullptr};

// Only sets an event and stores words, both safe in a signal handler. Putting the default actions
// back makes the second Ctrl+C end the program.
extern "C" void onInterrupt(int) {
  if (ExchangeEngine* engine = interruptedEngine.load()) engine->Abort();
  if (Event* event = interruptEvent.load()) event->set();
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
}

}  // namespace

struct InterruptScope::Saved {
  struct sigaction oldInt {};
  struct sigaction oldTerm {};
};

InterruptScope::InterruptScope(ExchangeEngine* engine, Event* event) : saved_(std::make_unique<Saved>()) {
  interruptedEngine.store(engine);
  interruptEvent.store(event);
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &saved_->oldInt);
  ::sigaction(SIGTERM, &action, &saved_->oldTerm);
}

InterruptScope::~InterruptScope() {
  ::sigaction(SIGINT, &saved_->oldInt, nullptr);
  ::sigaction(SIGTERM, &saved_->oldTerm, nullptr);
  interruptedEngine.store(nullptr);
  interruptEvent.store(nullptr);
}

}  // namespace kvtr
