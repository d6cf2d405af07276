// Windows-1251 <-> UTF-8. The module, the descriptor, configuration files and the HTML export
// are Windows-1251; every text inside the program is UTF-8. Conversion happens at those
// boundaries only.
#pragma once

#include <string>
#include <string_view>

namespace kvtr {

// Every Windows-1251 byte has a character except 0x98, which becomes U+FFFD.
std::string cp1251ToUtf8(std::string_view bytes);

// Characters without a Windows-1251 byte, and malformed UTF-8 sequences, become '?'.
// `lossless`, when given, tells whether every character was converted.
std::string utf8ToCp1251(std::string_view text, bool* lossless = nullptr);

// True when the text is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

}  // namespace kvtr
