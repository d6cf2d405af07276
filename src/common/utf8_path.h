// File names as the program's texts. Every text inside the program is UTF-8; a file name turns into
// text (a message, a listing, a setting) or comes from text (an argument, a setting) only through
// these functions. On Windows a path is wide and the narrow conversions of std::filesystem go
// through the ANSI code page, which cannot hold a Cyrillic name under most locales: these go
// through the wide form instead. On POSIX a name is bytes and they hand the bytes on unchanged.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kvtr {

// The path named by a UTF-8 text. On Windows a byte sequence that is not UTF-8 becomes U+FFFD.
[[nodiscard]] std::filesystem::path pathFromUtf8(std::string_view text);

// The path's name as UTF-8 text. On Windows a lone surrogate becomes U+FFFD.
[[nodiscard]] std::string utf8FromPath(const std::filesystem::path& path);

// The program's command line as UTF-8, argv[0] first. On Windows it is read from the wide command
// line, since the narrow argv holds only what the ANSI code page could spell.
[[nodiscard]] std::vector<std::string> utf8Arguments(int argc, char** argv);

}  // namespace kvtr
