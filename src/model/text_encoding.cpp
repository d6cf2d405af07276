#include "model/text_encoding.h"

#include <array>
#include <cstdint>

namespace kvtr {
namespace {

// Unicode code points of the bytes 0x80..0xFF; 0 marks the one unassigned byte (0x98).
constexpr std::array<std::uint16_t, 128> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

// Reverse table: every character of the code page lies below U+2200 (the highest is U+2122).
constexpr std::uint32_t kReverseLimit = 0x2200;
struct ReverseTable {
  std::array<unsigned char, kReverseLimit> byte{};
  constexpr ReverseTable() {
    for (std::size_t i = 0; i < kHighHalf.size(); ++i) {
      if (kHighHalf[i] != 0) byte[kHighHalf[i]] = static_cast<unsigned char>(0x80 + i);
    }
  }
};
constexpr ReverseTable kReverse;

}  // namespace

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

long decodeUtf8(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  int extra = 0;
  std::uint32_t cp = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
  } else {
    ++pos;
    return -1;
  }
  if (pos + static_cast<std::size_t>(extra) >= text.size()) {
    ++pos;
    return -1;
  }
  for (int i = 1; i <= extra; ++i) {
    const auto c = static_cast<unsigned char>(text[pos + static_cast<std::size_t>(i)]);
    if ((c & 0xC0) != 0x80) {
      ++pos;
      return -1;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF are malformed.
  static constexpr std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[extra] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
    ++pos;
    return -1;
  }
  pos += static_cast<std::size_t>(extra) + 1;
  return static_cast<long>(cp);
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    appendUtf8(out, cp);
  }
  return out;
}

std::string cp1251ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out.push_back(ch);
    } else {
      const std::uint16_t cp = kHighHalf[b - 0x80];
      appendUtf8(out, cp != 0 ? cp : 0xFFFD);
    }
  }
  return out;
}

std::string utf8ToCp1251(std::string_view text, bool* lossless) {
  std::string out;
  out.reserve(text.size());
  bool ok = true;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const long cp = decodeUtf8(text, pos);
    if (cp >= 0 && cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    const unsigned char mapped =
        (cp > 0 && cp < static_cast<long>(kReverseLimit)) ? kReverse.byte[static_cast<std::size_t>(cp)] : 0;
    if (mapped == 0) ok = false;
    out.push_back(mapped != 0 ? static_cast<char>(mapped) : '?');
  }
  if (lossless) *lossless = ok;
  return out;
}

bool isValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (decodeUtf8(text, pos) < 0) return false;
  }
  return true;
}

}  // namespace kvtr
