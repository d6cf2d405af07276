// Windows-1251 <-> UTF-8. The module, the descriptor, configuration files and the HTML export
// are Windows-1251; every text inside the program is UTF-8. Conversion happens at those
// boundaries only.
#pragma once

#include <cstdint>
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

// Appends the UTF-8 form of one code point (at most U+10FFFF).
void appendUtf8(std::string& out, std::uint32_t cp);

// Decodes one UTF-8 sequence at text[pos] (pos < text.size()): returns the code point and moves
// pos past the sequence, or returns -1 and moves pos by one byte for a malformed sequence
// (a bad or cut sequence, an overlong form, a surrogate, a code point past U+10FFFF).
long decodeUtf8(std::string_view text, std::size_t& pos);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

}  // namespace kvtr
