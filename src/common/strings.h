// Small text helpers. Names, type words and descriptor keywords are compared without regard to
// the case of Latin letters; texts inside the program are UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvtr {

char toUpperAscii(char c);
char toLowerAscii(char c);
std::string toUpperAscii(std::string_view text);
std::string toLowerAscii(std::string_view text);

// Case-insensitive for A..Z only; every other byte must match exactly.
bool equalsNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view text, std::string_view prefix);

// Removes characters with codes up to 32 from the end / both ends.
std::string_view trimRight(std::string_view text);
std::string_view trim(std::string_view text);

// Splits at any of the separator characters; empty pieces are dropped.
std::vector<std::string_view> splitTokens(std::string_view text, std::string_view separators);

// Replaces every occurrence of `from` with `to`.
std::string replaceAll(std::string_view text, char from, char to);
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);

// A decimal number that is the whole text: no sign, no blanks, nothing after it, no overflow.
[[nodiscard]] std::optional<std::uint32_t> parseWholeUnsigned(std::string_view text);

}  // namespace kvtr
