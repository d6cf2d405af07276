#include "common/utf8_path.h"

#include <windows.h>
// CommandLineToArgvW
#include <shellapi.h>

#include <climits>

namespace kvtr {
namespace {

std::wstring wideFromUtf8(std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string utf8FromWide(std::wstring_view wide) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  const int size = static_cast<int>(wide.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
  return text;
}

}  // namespace

std::filesystem::path pathFromUtf8(std::string_view text) { return std::filesystem::path(wideFromUtf8(text)); }

std::string utf8FromPath(const std::filesystem::path& path) { return utf8FromWide(path.native()); }

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  // The wide command line is the caller's own; should the system split it otherwise than the C
  // runtime split argv, argv is the one the runtime vouches for.
  if (wide != nullptr && count == argc) {
    for (int i = 0; i < count; ++i) arguments.push_back(utf8FromWide(wide[i]));
  } else {
    for (int i = 0; i < argc; ++i) arguments.emplace_back(argv[i]);
  }
  if (wide != nullptr) ::LocalFree(wide);
  return arguments;
}

}  // namespace kvtr
