#include "terminal_progress.h"

#include <io.h>
#include <windows.h>

namespace kvtr::cli {

// A console takes the control sequences only with virtual-terminal processing on (Windows 10 and
// later). Where it cannot be switched on, the stream counts as no terminal: the bar and the
// redrawn table would otherwise print as stray characters.
bool isTerminal(std::FILE* stream) {
  if (stream == nullptr) return false;
  const int fd = ::_fileno(stream);
  if (fd < 0 || ::_isatty(fd) == 0) return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  return ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

}  // namespace kvtr::cli
