#include "interrupt_scope.h"

#include <atomic>

#include "common/event.h"
#include "exchange/exchange_engine.h"

namespace kvtr {

namespace {

std::atomic<ExchangeEngine*> interruptedEngine{nullptr};
std::atomic<Event*> interruptEvent{nullptr};

extern "C" void onInterrupt(int) {
  if (ExchangeEngine* engine = interruptedEngine.load()) engine->Abort();
  if (Event* event = interruptEvent.load()) event->set();
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
}

}  // namespace

InterruptScope::InterruptScope(ExchangeEngine* engine, Event* event) {
  interruptedEngine.store(engine);
  interruptEvent.store(event);
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &oldInt_);
  ::sigaction(SIGTERM, &action, &oldTerm_);
}

InterruptScope::~InterruptScope() {
  ::sigaction(SIGINT, &oldInt_, nullptr);
  ::sigaction(SIGTERM, &oldTerm_, nullptr);
  interruptedEngine.store(nullptr);
  interruptEvent.store(nullptr);
}

}  // namespace kvtr
