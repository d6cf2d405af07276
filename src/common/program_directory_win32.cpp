#include "common/program_directory.h"

#include <windows.h>

#include <system_error>
#include <vector>

namespace kvtr {

std::filesystem::path programDirectory() {
  // The wide call, so that a folder name outside the ANSI code page survives. A name longer than
  // the buffer comes back cut and with ERROR_INSUFFICIENT_BUFFER: grow and ask again, up to the
  // longest path the system allows.
  std::vector<wchar_t> buffer(MAX_PATH);
  while (buffer.size() <= 32768) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) break;
    if (length < buffer.size()) {
      const std::filesystem::path self(std::wstring(buffer.data(), length));
      if (self.has_parent_path()) return self.parent_path();
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  std::error_code ec;
  return std::filesystem::current_path(ec);
}

}  // namespace kvtr
