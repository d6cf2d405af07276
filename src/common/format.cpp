#include "common/format.h"

#include <cstdio>

namespace kvtr {

std::string vstrprintf(const char* format, std::va_list args) {
  char small[256];
  std::va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return {};
  if (static_cast<std::size_t>(needed) < sizeof small) return std::string(small, static_cast<std::size_t>(needed));
  std::string out(static_cast<std::size_t>(needed) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<std::size_t>(needed));
  return out;
}

std::string strprintf(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string out = vstrprintf(format, args);
  va_end(args);
  return out;
}

}  // namespace kvtr
