// What the configuration-file tests share: a small descriptor, a builder that writes a file
// field by field as the layout describes it, and a user interface that records its messages.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/user_interface.h"
#include "model/text_encoding.h"
#include "unit/model/recording_user_interface.h"
#include "unit/model/scratch_folder.h"

namespace kvtr::testing_support {

// A root with two parameters and two instances of a branch with two indexed parameters:
//   Прибор: CHAr* (Имя), INIT (Режим)
//     Вход №1: r.oe:0 (Уставка), APLY:0 (Применить)
//     Вход №2: r.oe:1, APLY:1
inline constexpr std::string_view kSmallDescriptor =
    "type ONOFF Выкл Вкл\n"
    "parameter r.oe float Уставка\n"
    "parameter CHAr* name Имя noattr\n"
    "parameter APLY void Применить noattr\n"
    "parameter INIT ONOFF Режим\n"
    "rule r.oe 0 10\n"
    "branch Вход 2 4 5 r.oe APLY\n"
    "root Прибор 1 2 3 CHAr* INIT Вход\n";

struct Layout {
  std::vector<std::uint8_t> bytes;

  Layout& raw(std::initializer_list<int> values) {
    for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
    return *this;
  }
  Layout& byte(std::uint8_t v) {
    bytes.push_back(v);
    return *this;
  }
  Layout& word(std::uint16_t v) { return byte(static_cast<std::uint8_t>(v)).byte(static_cast<std::uint8_t>(v >> 8)); }
  Layout& dword(std::uint32_t v) {
    return word(static_cast<std::uint16_t>(v)).word(static_cast<std::uint16_t>(v >> 16));
  }
  // A short text: one length byte, then the Windows-1251 bytes.
  Layout& text(std::string_view utf8) {
    const std::string cp = utf8ToCp1251(utf8);
    byte(static_cast<std::uint8_t>(cp.size()));
    bytes.insert(bytes.end(), cp.begin(), cp.end());
    return *this;
  }
  // First occurrence of a class: FF FF, schema, name length, name.
  Layout& newClass(std::uint16_t schema, std::string_view name) {
    word(0xFFFF).word(schema).word(static_cast<std::uint16_t>(name.size()));
    bytes.insert(bytes.end(), name.begin(), name.end());
    return *this;
  }
  // A class announced before: 0x8000 + its number.
  Layout& oldClass(int number) { return word(static_cast<std::uint16_t>(0x8000 + number)); }
};

using RecordingUi = RecordingUserInterface;

}  // namespace kvtr::testing_support
