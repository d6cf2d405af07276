// The named event as the Win32 event of that name (manual reset, created not set).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "app/named_event.h"
#include "common/catalogue.h"
#include "common/format.h"

namespace kvtr {

struct NamedEvent::Native {
  HANDLE handle = nullptr;
  ~Native() {
    if (handle != nullptr) ::CloseHandle(handle);
  }
};

namespace {

void setError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

std::wstring wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string systemText(DWORD code) { return strprintf(trFormat("системная ошибка %lu"), static_cast<unsigned long>(code)); }

}  // namespace

NamedEvent::NamedEvent(std::string name, std::unique_ptr<Native> native)
    : name_(std::move(name)), native_(std::move(native)), relay_([this] { Relay(); }) {}

NamedEvent::~NamedEvent() {
  stop_.set();
  if (relay_.joinable()) relay_.join();
}

std::filesystem::path namedEventFolder() { return {}; }

std::unique_ptr<NamedEvent> NamedEvent::Open(std::string_view name, std::string* error) {
  const std::wstring w = wide(name);
  if (w.empty()) {
    setError(error, strprintf(trFormat("«%s» — недопустимое имя события"), std::string(name).c_str()));
    return nullptr;
  }
  auto native = std::make_unique<Native>();
  native->handle = ::CreateEventW(nullptr, TRUE, FALSE, w.c_str());
  if (native->handle == nullptr) {
    setError(error, strprintf(trFormat("не удалось открыть событие «%s»: %s"), std::string(name).c_str(), systemText(::GetLastError()).c_str()));
    return nullptr;
  }
  return std::unique_ptr<NamedEvent>(new NamedEvent(std::string(name), std::move(native)));
}

void NamedEvent::Relay() {
  const HANDLE handles[2] = {native_->handle, reinterpret_cast<HANDLE>(stop_.nativeHandle())};
  if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0) signalled_.set();
}

bool NamedEvent::Set(std::string* error) {
  if (::SetEvent(native_->handle)) return true;
  setError(error, strprintf(trFormat("не удалось установить событие: %s"), systemText(::GetLastError()).c_str()));
  return false;
}

bool SetNamedEvent(std::string_view name, std::string* error) {
  const std::wstring w = wide(name);
  if (w.empty()) {
    setError(error, strprintf(trFormat("«%s» — недопустимое имя события"), std::string(name).c_str()));
    return false;
  }
  const HANDLE handle = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, w.c_str());
  if (handle == nullptr) {
    const DWORD code = ::GetLastError();
    setError(error, code == ERROR_FILE_NOT_FOUND ? strprintf(trFormat("события «%s» не ждет ни одна программа"), std::string(name).c_str())
                                                 : strprintf(trFormat("не удалось открыть событие: %s"), systemText(code).c_str()));
    return false;
  }
  const bool ok = ::SetEvent(handle) != 0;
  if (!ok) setError(error, strprintf(trFormat("не удалось установить событие: %s"), systemText(::GetLastError()).c_str()));
  ::CloseHandle(handle);
  return ok;
}

}  // namespace kvtr
