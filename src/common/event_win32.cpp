// Events on Win32 event objects.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <system_error>

#include "common/event.h"

namespace kvtr {

namespace {

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

Event::Event(EventReset reset, bool initiallySet) : reset_(reset) {
  HANDLE h = ::CreateEventW(nullptr, reset == EventReset::Manual ? TRUE : FALSE,
                            initiallySet ? TRUE : FALSE, nullptr);
  if (h == nullptr) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "CreateEvent");
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
}

Event::~Event() { ::CloseHandle(handleOf(handle_)); }

void Event::set() { ::SetEvent(handleOf(handle_)); }

void Event::reset() { ::ResetEvent(handleOf(handle_)); }

bool Event::isSet() const {
  if (::WaitForSingleObject(handleOf(handle_), 0) != WAIT_OBJECT_0) return false;
  // Looking at an auto-reset event took its signal: give it back.
  if (reset_ == EventReset::Automatic) ::SetEvent(handleOf(handle_));
  return true;
}

bool Event::take() {
  // A zero wait takes an auto-reset event's signal atomically and leaves a manual one set.
  return ::WaitForSingleObject(handleOf(handle_), 0) == WAIT_OBJECT_0;
}

namespace detail {

int blockOnEvents(std::span<const Event* const> events, Clock::Duration timeout) {
  DWORD millis = INFINITE;
  if (timeout != Clock::kInfinite) {
    // Round up: waking a little late only costs another round, waking early spins.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
    millis = ms >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms < 0 ? 0 : ms);
  }
  if (events.empty()) {
    ::Sleep(millis);
    return kWaitTimedOut;
  }
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  const DWORD count = static_cast<DWORD>(events.size() < MAXIMUM_WAIT_OBJECTS ? events.size()
                                                                              : MAXIMUM_WAIT_OBJECTS);
  for (DWORD i = 0; i < count; ++i) handles[i] = handleOf(events[i]->nativeHandle());
  const DWORD rc = ::WaitForMultipleObjects(count, handles, FALSE, millis);
  if (rc >= WAIT_OBJECT_0 && rc < WAIT_OBJECT_0 + count) {
    const DWORD index = rc - WAIT_OBJECT_0;
    // The wait took an auto-reset event's signal; the caller takes it itself in list order.
    if (events[index]->isAutoReset()) ::SetEvent(handles[index]);
    return static_cast<int>(index);
  }
  return kWaitTimedOut;
}

}  // namespace detail

}  // namespace kvtr
