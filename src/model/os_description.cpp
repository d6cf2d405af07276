#include "model/os_description.h"

#include "common/format.h"
#include "common/strings.h"

namespace kvtr {

std::string PrettyNameFromOsRelease(std::string_view content) {
  static constexpr std::string_view kKey = "PRETTY_NAME=";
  std::size_t pos = 0;
  while (pos < content.size()) {
    std::size_t end = content.find('\n', pos);
    if (end == std::string_view::npos) end = content.size();
    const std::string_view line = trim(content.substr(pos, end - pos));
    pos = end + 1;
    if (!line.starts_with(kKey)) continue;
    std::string_view raw = line.substr(kKey.size());
    // The value may be quoted, with backslash escapes inside double quotes.
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front()) {
      const bool escapes = raw.front() == '"';
      raw = raw.substr(1, raw.size() - 2);
      std::string out;
      for (std::size_t i = 0; i < raw.size(); ++i) {
        if (escapes && raw[i] == '\\' && i + 1 < raw.size()) ++i;
        out.push_back(raw[i]);
      }
      return out;
    }
    return std::string(raw);
  }
  return {};
}

std::string ComposeSystemDescription(std::string_view prettyName, std::string_view kernelName,
                                     std::string_view kernelRelease, std::string_view machine) {
  std::string kernel(kernelName);
  for (std::string_view part : {kernelRelease, machine}) {
    if (part.empty()) continue;
    if (!kernel.empty()) kernel += ' ';
    kernel += part;
  }
  if (prettyName.empty() && kernel.empty()) return std::string(kUnknownSystemText);
  if (prettyName.empty()) return kernel;
  if (kernel.empty()) return std::string(prettyName);
  return std::string(prettyName) + ", ядро " + kernel;
}

std::string DescribeWindowsVersion(unsigned platformId, unsigned major, unsigned minor, unsigned build) {
  const int b = static_cast<int>(build & 0xFFFF);
  switch (platformId) {
    case 0: return strprintf("MS Windows 3.1x + Win32s Build %4i", b);
    case 1: return "Windows 9x/Me";
    case 2:
      if (major == 3 && minor == 51) return strprintf("Windows NT 3.51 Build %4i", b);
      if (major == 4) return strprintf("Windows NT 4.xx Build %4i", b);
      if (major == 5) return strprintf("Windows 2000/XP Build %4i", b);
      return "Windows NT/2k-подобная система";
    default: return "Тип системы неопределен";
  }
}

}  // namespace kvtr
