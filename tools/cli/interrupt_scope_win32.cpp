#include "interrupt_scope.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "common/catalogue.h"
#include "common/event.h"
#include "exchange/exchange_engine.h"

namespace kvtr {

namespace {

// The console calls its handlers on a thread of its own, so the scope's end and a handler that runs
// at the same moment meet at this lock: the engine and the event are not used after the scope.
std::mutex scopeMutex;
ExchangeEngine* interruptedEngine = nullptr;
Event* interruptEvent = nullptr;
std::atomic<bool> interrupted{false};

// A closed console window, a log-off or a shut-down ends the process as soon as the handler
// returns, and the system waits at most 5 s for it: the work gets that long, less a margin, to
// finish its exchange and leave the scope.
constexpr DWORD kCloseWaitMs = 4500;

// Set while no scope is open. Lives as long as the process, so that a handler waiting on it never
// sees it closed.
HANDLE scopeEndedEvent() {
  static const HANDLE event = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
  return event;
}

void interrupt() {
  std::lock_guard lock(scopeMutex);
  if (interruptedEngine != nullptr) interruptedEngine->Abort();
  if (interruptEvent != nullptr) interruptEvent->set();
}

BOOL WINAPI onConsoleEvent(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // The second request ends the program at once, as Ctrl+C does when nobody handles it.
      if (interrupted.exchange(true)) ::TerminateProcess(::GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
      interrupt();
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      interrupted.store(true);
      interrupt();
      if (const HANDLE ended = scopeEndedEvent()) ::WaitForSingleObject(ended, kCloseWaitMs);
      return FALSE;  // the system's own handler ends the process
    default:
      return FALSE;
  }
}

}  // namespace

struct InterruptScope::Saved {
  bool installed = false;
};

InterruptScope::InterruptScope(ExchangeEngine* engine, Event* event) : saved_(std::make_unique<Saved>()) {
  {
    std::lock_guard lock(scopeMutex);
    interruptedEngine = engine;
    interruptEvent = event;
  }
  interrupted.store(false);
  if (const HANDLE ended = scopeEndedEvent()) ::ResetEvent(ended);
  saved_->installed = ::SetConsoleCtrlHandler(onConsoleEvent, TRUE) != FALSE;
  if (!saved_->installed) {
    std::fprintf(stderr, trFormat("Ctrl+C не перехватывается (ошибка %lu): оно сразу завершит программу.\n"),
                 static_cast<unsigned long>(::GetLastError()));
  }
}

InterruptScope::~InterruptScope() {
  if (saved_->installed) ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
  {
    std::lock_guard lock(scopeMutex);
    interruptedEngine = nullptr;
    interruptEvent = nullptr;
  }
  if (const HANDLE ended = scopeEndedEvent()) ::SetEvent(ended);
}

}  // namespace kvtr
