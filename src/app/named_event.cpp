#include "app/named_event.h"

#include "common/format.h"

namespace kvtr {

std::string namedEventFileName(std::string_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                       c == '-' || (c == '.' && i != 0);
    if (plain) out += static_cast<char>(c);
    else out += strprintf("%%%02X", c);
  }
  // The longest file name POSIX file systems take.
  constexpr std::size_t kMaxFileName = 255;
  if (out.size() > kMaxFileName) return {};
  return out;
}

}  // namespace kvtr
