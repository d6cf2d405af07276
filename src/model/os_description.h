// A description of the operating system the program runs on, for the service parameters of the
// program. The platform part lives in os_description_posix.cpp and os_description_win32.cpp; the
// texts are composed here so that they are the same everywhere and can be tested anywhere.
#pragma once

#include <string>
#include <string_view>

namespace kvtr {

// The text when nothing is known about the system.
inline constexpr std::string_view kUnknownSystemText = "<неизвестно>";

// The running system, e.g. "Debian GNU/Linux 12 (bookworm), ядро Linux 6.1.0-18-amd64 x86_64".
[[nodiscard]] std::string DescribeOperatingSystem();

// PRETTY_NAME of an os-release file (quotes and escapes removed), or empty.
[[nodiscard]] std::string PrettyNameFromOsRelease(std::string_view content);

// The distribution's name and the kernel from uname; any part may be empty.
[[nodiscard]] std::string ComposeSystemDescription(std::string_view prettyName, std::string_view kernelName,
                                                   std::string_view kernelRelease, std::string_view machine);

// The program's texts for the Windows platform and version numbers: platform 0 Win32s, 1 the
// Windows 95 line, 2 the NT line.
[[nodiscard]] std::string DescribeWindowsVersion(unsigned platformId, unsigned major, unsigned minor, unsigned build);

}  // namespace kvtr
