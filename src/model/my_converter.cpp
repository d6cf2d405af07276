#include "model/my_converter.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"
#include "model/text_encoding.h"

namespace kvtr {

namespace {

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The first token of a type text, as the enumeration list splits it.
// The first of the ':'-separated pieces that is not empty; asked at every answer, so it looks
// without making the list.
std::string_view firstToken(std::string_view type) {
  const std::size_t start = type.find_first_not_of(':');
  if (start == std::string_view::npos) return {};
  const std::size_t end = type.find(':', start);
  return type.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

// Bytes sent as characters come last character first.
std::string reversedCharacters(std::span<const std::uint8_t> data) {
  std::string raw;
  raw.reserve(data.size());
  for (std::size_t i = data.size(); i-- > 0;) {
    // Zero bytes pad a fixed-size field; they are no characters of the text.
    if (data[i] == 0) continue;
    raw.push_back(static_cast<char>(data[i]));
  }
  return cp1251ToUtf8(raw);
}

unsigned bigEndian16(std::uint8_t high, std::uint8_t low) { return (static_cast<unsigned>(high) << 8) | low; }

// Names whose integer value always travels in 2 bytes, whatever its size.
bool isWideIntegerName(std::string_view name) {
  for (std::string_view wide : {"Addr", "SoUr", "Alr.t", "tHP", "tP.H", "CLB.K"}) {
    if (equalsNoCase(name, wide)) return true;
  }
  return false;
}

// Names whose time value always travels in 2 bytes.
bool isWideTimeName(std::string_view name) {
  for (std::string_view wide : {"Alr.t", "tHP", "tP.H"}) {
    if (equalsNoCase(name, wide)) return true;
  }
  return false;
}

// Like atoi: the integer part of a lenient decimal reading, kept within 32 bits.
std::int32_t readLenientInteger(std::string_view text) {
  const DecimalReading r = ReadDecimal(text, /*allowExponent=*/false);
  if (!r.ok) return 0;
  const double whole = std::trunc(r.value);
  if (whole >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (whole <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(whole);
}

void pushWord(DataField& out, unsigned word) {
  out.push(static_cast<std::uint8_t>((word >> 8) & 0xFF));
  out.push(static_cast<std::uint8_t>(word & 0xFF));
}

void pushSingle(DataField& out, float f, std::size_t byteCount) {
  std::uint32_t bits = 0;
  static_assert(sizeof bits == sizeof f);
  std::memcpy(&bits, &f, sizeof bits);
  for (std::size_t i = 0; i < byteCount; ++i) {
    out.push(static_cast<std::uint8_t>((bits >> (24 - 8 * i)) & 0xFF));
  }
}

float singleFromBytes(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
  const std::uint32_t bits = (static_cast<std::uint32_t>(b0) << 24) | (static_cast<std::uint32_t>(b1) << 16) |
                             (static_cast<std::uint32_t>(b2) << 8) | b3;
  float f = 0.0f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

std::string lengthMessage(std::size_t length) {
  return strprintf("Ошибка; (Непонятная длина ответа:%i)", static_cast<int>(length));
}

// The network name from its 4 (or 4 + index) bytes: characters 1..4 come from bytes 4..1.
int networkNameFromData(std::span<const std::uint8_t> data, std::string& text) {
  if (data.size() != 4 && data.size() != 6) {
    text = lengthMessage(data.size());
    return -1;
  }
  std::string out;
  for (std::size_t i = 4; i-- > 0;) {
    const std::uint8_t code = data[i];
    if (code > 79) {  // also every byte with the high bit set
      text = "Недопустимый код символа в сетевом имени";
      return -1;
    }
    out.push_back(NetworkNameChar(code / 2u));
    if (code & 1u) out.push_back('.');
  }
  text = std::move(out);
  return 1;
}

// The network name as four character codes, sent first character last.
int networkNameToData(std::string& text, DataField& out) {
  if (text.empty()) {
    text = "Сетевое имя пусто";
    return -1;
  }
  std::size_t characters = 0;
  for (char c : text) {
    if (!isContinuationByte(c)) ++characters;
  }
  if (characters > 8) {
    text = "Сетевое имя слишком длинное";
    return -1;
  }
  const std::string upper = toUpperAscii(text);
  // Four codes plus a spare slot: a fifth character is still checked but not sent.
  std::array<int, 5> codes{kNameFillerCode, kNameFillerCode, kNameFillerCode, kNameFillerCode, kNameFillerCode};
  std::size_t filled = 0;
  bool lastHasPoint = false;
  for (std::size_t i = 0; i < upper.size() && filled <= 4; ++i) {
    const char c = upper[i];
    if (c == '.') {
      // A point belongs to the character before it; a leading point or a second point after
      // the same character has nothing to mark (a second +1 would turn 'A' into 'B').
      if (filled == 0 || lastHasPoint) {
        text = "Недопустимый символ в сетевом имени";
        return -1;
      }
      codes[filled - 1] += 1;
      lastHasPoint = true;
      continue;
    }
    const int index = NetworkNameIndex(c);
    if (index < 0 || c == '/') {
      text = "Недопустимый символ в сетевом имени";
      return -1;
    }
    codes[filled++] = index * 2;
    lastHasPoint = false;
  }
  for (std::size_t i = 4; i-- > 0;) out.push(static_cast<std::uint8_t>(codes[i]));
  return 1;
}

// Texts of the module's self-check codes in the "exit" answer.
const char* exitDiagnostic(unsigned code) {
  switch (code) {
    case 1:
    case 14: return "Нештатный вход в программу контроля";
    case 2: return "Сбой бегущей единицы на порту С";
    case 3: return "Сбой бегущей единицы на порту E";
    case 4: return "сбой бегущей единицы на порту B";
    case 5: return "переполнение одного из стеков (данных или адресов возврата)";
    case 6: return "внешний сброс";
    case 7: return "сброс по питанию";
    case 8: return "Самопроизвольный watchdog";
    case 9: return "Кто-то держит SDA линию магистрали в 0";
    case 10: return "Ошибки при чтения/записи еепром";
    case 11: return "ошибки при записи еепром";
    case 12: return "Не хватает времени до перезагрузки очереди";
    case 13: return "Ошибка зацикливания указателей pwmQueue";
    case 15: return "Повторная проверка обнаружила неисправимый код (Check_Segment)";
    case 95: return "Сбой регистра SREG";
    default: return nullptr;
  }
}

// Answers of the network settings, by name; an unknown byte value gives no text.
const char* networkSettingText(std::string_view name, std::uint8_t b) {
  static constexpr const char* kSpeeds[] = {"2400", "4800", "9600", "14400", "19200", "28800", "38400", "57600", "115200"};
  static constexpr const char* kDataBits[] = {"7", "8"};
  static constexpr const char* kParity[] = {"Отсутствует", "Четность", "Нечетность"};
  static constexpr const char* kStopBits[] = {"1", "2"};
  static constexpr const char* kAddressLength[] = {"8", "11"};
  auto pick = [b](const auto& table) -> const char* {
    return b < std::size(table) ? table[b] : nullptr;
  };
  if (equalsNoCase(name, "bPS")) return pick(kSpeeds);
  if (equalsNoCase(name, "LEn")) return pick(kDataBits);
  if (equalsNoCase(name, "PrtY")) return pick(kParity);
  if (equalsNoCase(name, "Sbit")) return pick(kStopBits);
  return pick(kAddressLength);
}

bool isNetworkSettingName(std::string_view name) {
  return equalsNoCase(name, "bPS") || equalsNoCase(name, "LEn") || equalsNoCase(name, "PrtY") ||
         equalsNoCase(name, "Sbit") || equalsNoCase(name, "A.Len");
}


// Limits of floats are met within a thousandth: the value shown has three decimals, and a
// limit typed as 10 must not refuse a value stored as 10.000 from the single 10.0005.
constexpr double kFloatLimitTolerance = 0.0009;
// An integer may carry at most this much of a fraction from its decimal reading.
constexpr double kIntegerFractionTolerance = 0.00001;
// Integers and times travel in at most two bytes.
constexpr double kLargestWord = 65535.0;

// The characters a network name is typed with. '/' is in the alphabet of codes but cannot be
// sent, so it is not taken either.
bool isNetworkNameCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c) || c == ' ' || c == '-' || c == '_';
}

// Up to four characters of the name alphabet, each with an optional point.
bool isNetworkNameText(std::string_view text) {
  if (text.empty()) return false;
  std::size_t characters = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (!isNetworkNameCharacter(text[i]) || ++characters > 4) return false;
    ++i;
    if (i < text.size() && text[i] == '.') ++i;
  }
  return true;
}

// A limit as the refusal names it: "0", "2047", "0.5".
std::string limitText(double v) { return strprintf("%g", v); }

// Seconds as minutes and seconds, "%02u:%02u".
std::string timeText(double seconds) {
  const unsigned s = seconds <= 0 ? 0u : static_cast<unsigned>(std::min(seconds, 1e9));
  return strprintf("%02u:%02u", s / 60, s % 60);
}

// A choice as it is compared with the list: blanks around it dropped, "_" read as a blank, Latin
// and Cyrillic letters in lower case.
std::string foldChoice(std::string_view text) {
  const std::string blanks = replaceAll(text, '_', ' ');
  const std::string_view bare = trim(blanks);
  std::string out;
  out.reserve(bare.size());
  for (std::size_t i = 0; i < bare.size(); ++i) {
    const auto c = static_cast<unsigned char>(bare[i]);
    if (c == 0xD0 && i + 1 < bare.size()) {
      const auto next = static_cast<unsigned char>(bare[i + 1]);
      if (next >= 0x90 && next <= 0x9F) {  // А..П -> а..п
        out += static_cast<char>(0xD0);
        out += static_cast<char>(next + 0x20);
        ++i;
        continue;
      }
      if (next >= 0xA0 && next <= 0xAF) {  // Р..Я -> р..я
        out += static_cast<char>(0xD1);
        out += static_cast<char>(next - 0x20);
        ++i;
        continue;
      }
      if (next == 0x81) {  // Ё -> ё
        out += static_cast<char>(0xD1);
        out += static_cast<char>(0x91);
        ++i;
        continue;
      }
    }
    out += toLowerAscii(static_cast<char>(c));
  }
  return out;
}

// The count of seconds of a time typed as minutes and seconds, or none for a text that is not
// one. A ':' followed by two digits weighs the next digit 6 ("12:05" is (12 x 6 + 0) x 10 + 5 =
// 725 s); followed by a single digit it weighs 60 ("12:5" = 725 s).
std::optional<double> typedSeconds(std::string_view text) {
  if (text.empty()) return std::nullopt;
  double count = 0.0;
  int weight = 10;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':') {
      weight = (text.size() - i - 1 >= 2) ? 6 : 60;
      continue;
    }
    if (!isDigit(c)) return std::nullopt;
    count = count * weight + (c - '0');
    weight = 10;
  }
  return count;
}

}  // namespace

bool DataField::push(std::uint8_t byte) {
  if (length >= kCapacity) return false;
  bytes[length++] = byte;
  return true;
}

std::string LimitScratchText(std::string_view text) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isContinuationByte(text[i])) continue;
    if (characters == kScratchTextChars) return std::string(text.substr(0, i));
    ++characters;
  }
  return std::string(text);
}

ValueKind ClassifyType(std::string_view type) {
  const std::string_view first = firstToken(type);
  if (equalsNoCase(first, "float")) return ValueKind::Float;
  if (equalsNoCase(first, "int")) return ValueKind::Integer;
  if (equalsNoCase(first, "CLK_frm")) return ValueKind::Time;
  if (equalsNoCase(type, "string") || equalsNoCase(type, "ASCI")) return ValueKind::String;
  if (equalsNoCase(type, "name")) return ValueKind::NetworkName;
  if (equalsNoCase(type, "void")) return ValueKind::Void;
  return ValueKind::Enumeration;
}

std::vector<std::string> EnumerationList(std::string_view type) {
  std::vector<std::string> list;
  for (std::string_view token : splitTokens(type, ":")) {
    if (list.size() == kMaxEnumerationEntries) break;
    list.push_back(replaceAll(token, '_', ' '));
  }
  return list;
}

int NetworkNameIndex(char c) {
  c = toUpperAscii(c);
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  switch (c) {
    case '-': return 36;
    case '_': return 37;
    case '/': return 38;
    case ' ': return 39;
    default: return -1;
  }
}

char NetworkNameChar(unsigned index) {
  if (index <= 9) return static_cast<char>('0' + index);
  if (index <= 35) return static_cast<char>('A' + (index - 10));
  switch (index) {
    case 36: return '-';
    case 37: return '_';
    case 38: return '/';
    default: return ' ';
  }
}

std::string ExitDiagnosticText(unsigned code) {
  if (const char* text = exitDiagnostic(code)) return text;
  if (code >= 32 && code <= 94) {
    return strprintf("%s %d", "Ошибки регистров ввода/вывода. Номеру сбившегося регистра : ", static_cast<int>(code));
  }
  return "Не найдено значение ошибки ";
}

MyConverter::MyConverter(std::string parameterName) : name(std::move(parameterName)), type(kUnknownTypeText) {}

int MyConverter::ConvertFromData(std::span<const std::uint8_t> data, std::string& text) const {
  const std::size_t n = data.size();
  if (n == 0) {
    if (equalsNoCase(name, "APLY")) {
      text.clear();
      return 1;
    }
    if (equalsNoCase(type, "void")) {
      text.clear();
      return 1;
    }
    return 0;
  }
  if (equalsNoCase(name, "dev") || equalsNoCase(name, "ver")) {
    text = LimitScratchText(reversedCharacters(data));
    return 1;
  }
  if (equalsNoCase(name, "exit")) {
    if (n != 3) return 0;
    if (data[0] == 0x18) {
      text = strprintf("%s %u", "Адрес прибора:", bigEndian16(data[1], data[2]));
    } else {
      text = ExitDiagnosticText(data[2]);
    }
    return 1;
  }
  if (isNetworkSettingName(name)) {
    const char* setting = networkSettingText(name, data[0]);
    if (setting == nullptr) return 0;
    text = setting;
    return 1;
  }
  if (equalsNoCase(name, "Addr")) {
    if (n == 1) {
      text = strprintf("%d", data[0]);
    } else if (n == 2) {
      text = strprintf("%d", static_cast<int>(bigEndian16(data[0], data[1])));
    } else {
      return 0;
    }
    return 1;
  }

  switch (kind()) {
    case ValueKind::Float: {
      float f = 0.0f;
      if (equalsNoCase(name, "r.oe")) {
        // The upper three bytes of the single; the lowest mantissa byte is not sent.
        if (n != 3 && n != 5) return 0;
        f = singleFromBytes(data[0], data[1], data[2], 0);
      } else {
        if (n != 4 && n != 6) return 0;
        f = singleFromBytes(data[0], data[1], data[2], data[3]);
      }
      text = FormatFixed3(f);
      return 1;
    }
    case ValueKind::Integer:
    case ValueKind::Time: {
      if (n > 4) {
        text = lengthMessage(n);
        return -1;
      }
      // Lengths 3 and 4 are the 1- and 2-byte values followed by an index.
      const unsigned v = (n % 2 == 1) ? data[0] : bigEndian16(data[0], data[1]);
      if (kind() == ValueKind::Integer) {
        // Polling turns numbers into text all the time: written in place, no formatting engine.
        char digits[8];
        const auto end = std::to_chars(std::begin(digits), std::end(digits), v).ptr;
        text.assign(digits, static_cast<std::size_t>(end - digits));
      } else {
        text = strprintf("%02u:%02u", v / 60, v % 60);
      }
      return 1;
    }
    case ValueKind::String:
      text = LimitScratchText(reversedCharacters(data));
      return 1;
    case ValueKind::NetworkName:
      return networkNameFromData(data, text);
    case ValueKind::Void:
      // The module sent bytes for a parameter that carries no value: nothing to show.
      text.clear();
      return 1;
    case ValueKind::Enumeration: {
      // The choice the byte names, found without making the whole list.
      std::size_t index = 0;
      for (std::size_t pos = 0; pos < type.size() && index < kMaxEnumerationEntries;) {
        const std::size_t start = type.find_first_not_of(':', pos);
        if (start == std::string::npos) break;
        const std::size_t end = std::min(type.find(':', start), type.size());
        if (index == data[0]) {
          text = LimitScratchText(replaceAll(std::string_view(type).substr(start, end - start), '_', ' '));
          return 1;
        }
        ++index;
        pos = end;
      }
      return 0;
    }
  }
  return 0;
}

int MyConverter::ConvertToData(std::string& text, DataField& out) const {
  out.clear();
  text = LimitScratchText(text);
  if (equalsNoCase(name, "dev") || equalsNoCase(name, "ver") || equalsNoCase(name, "exit")) return -1;
  if (equalsNoCase(name, "APLY")) return 1;

  switch (kind()) {
    case ValueKind::Float: {
      // A comma is the decimal point as the operator types it ("0,7"); the program itself
      // writes values with a point.
      const DecimalReading r = ReadDecimal(trimRight(text), /*allowExponent=*/true, /*commaIsPoint=*/true);
      const double v = r.ok ? r.value : 0.0;
      // A number beyond the range of a single would travel as infinity.
      if (!std::isfinite(v) || std::fabs(v) > static_cast<double>(FLT_MAX)) return 0;
      pushSingle(out, static_cast<float>(v), equalsNoCase(name, "r.oe") ? 3 : 4);
      return 1;
    }
    case ValueKind::Integer: {
      const std::int32_t v = readLenientInteger(trimRight(text));
      const unsigned word = static_cast<std::uint32_t>(v) & 0xFFFFu;  // only the low 16 bits travel
      if (isWideIntegerName(name) || (word & 0xFF00u) != 0) {
        pushWord(out, word);
      } else {
        out.push(static_cast<std::uint8_t>(word));
      }
      return 1;
    }
    case ValueKind::Time: {
      // Minutes and seconds: "12:34" = ((1 x 10 + 2) x 6 + 3) x 10 + 4 = 754 seconds. A single
      // seconds digit after the ':' weighs the minutes 60, as the input check counts it: "1:5"
      // is 1 x 60 + 5 = 65 seconds, not 1 x 6 + 5.
      std::uint16_t seconds = 0;
      int weight = 10;
      for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':') {
          weight = (text.size() - i - 1 >= 2) ? 6 : 60;
        } else if (isDigit(c)) {
          seconds = static_cast<std::uint16_t>(seconds * weight + (c - '0'));
          weight = 10;
        } else {
          return -1;
        }
      }
      if (isWideTimeName(name) || seconds >= 256) {
        pushWord(out, seconds);
      } else {
        out.push(static_cast<std::uint8_t>(seconds));
      }
      return 1;
    }
    case ValueKind::NetworkName:
      return networkNameToData(text, out);
    case ValueKind::Void:
      return 1;
    case ValueKind::String:  // strings have no write encoding of their own
    case ValueKind::Enumeration: {
      const std::vector<std::string> list = EnumerationList(type);
      for (std::size_t i = 0; i < list.size(); ++i) {
        if (equalsNoCase(text, list[i])) {
          out.push(static_cast<std::uint8_t>(i));
          return 1;
        }
      }
      return 0;
    }
  }
  return 0;
}

std::string ValueCheck::reason() const {
  if (!writable) return tr("параметр только читается из прибора");
  return tr("значение должно быть ") + expected;
}

std::string ValueNotWrittenText(std::string_view text, const ValueCheck& check) {
  return strprintf(trFormat("Значение '%.*s' не записано: %s"), static_cast<int>(text.size()), text.data(),
                   check.reason().c_str());
}

ValueCheck MyConverter::CheckText(std::string_view text) const {
  ValueCheck check;
  const ValueKind k = kind();
  // What ConvertToData has no encoding for: the module's own texts, and strings.
  if (equalsNoCase(name, "dev") || equalsNoCase(name, "ver") || equalsNoCase(name, "exit") ||
      k == ValueKind::String || (k == ValueKind::Enumeration && EnumerationList(type).empty())) {
    check.writable = false;
    return check;
  }
  // The command carries no value: whatever the text, nothing of it is sent.
  if (equalsNoCase(name, "APLY")) {
    check.accepted = true;
    check.stored = std::string(text);
    return check;
  }
  // The conversion works on at most the scratch text: anything longer would be cut unseen.
  if (LimitScratchText(text).size() != text.size()) {
    check.expected = strprintf(trFormat("не длиннее %zu знаков"), kScratchTextChars);
    return check;
  }

  check.stored = std::string(text);
  if (equalsNoCase(name, "CHAr*") || k == ValueKind::NetworkName) {
    check.expected =
        tr("сетевым именем: не более 4 знаков из букв A-Z, цифр, пробела, '-' и '_', после каждого может стоять точка");
    check.accepted = isNetworkNameText(text);
    return check;
  }
  switch (k) {
    case ValueKind::Float: {
      check.expected = hasLimits() ? strprintf(trFormat("числом от %s до %s"), limitText(minimum).c_str(),
                                               limitText(maximum).c_str())
                                   : std::string(tr("числом"));
      const std::optional<double> v = ReadTypedNumber(text);
      // A value beyond the range of a single cannot be sent.
      if (!v || !std::isfinite(*v) || std::fabs(*v) > static_cast<double>(FLT_MAX)) return check;
      const float f = static_cast<float>(*v);
      if (hasLimits() && (f < minimum - kFloatLimitTolerance || f > maximum + kFloatLimitTolerance)) return check;
      check.stored = FormatFixed3(f);
      break;
    }
    case ValueKind::Integer: {
      // Only two bytes travel: a larger or negative number would arrive as another one.
      const double low = hasLimits() ? std::max(minimum, 0.0) : 0.0;
      const double high = hasLimits() ? std::min(maximum, kLargestWord) : kLargestWord;
      check.expected = strprintf(trFormat("целым числом от %s до %s"), limitText(std::ceil(low)).c_str(),
                                 limitText(std::floor(high)).c_str());
      // Decimal notation only: the encoder reads integers without an exponent.
      const std::optional<double> v = ReadTypedNumber(text, /*allowExponent=*/false);
      if (!v || *v < low || *v > high) return check;
      if (std::fabs(*v - std::trunc(*v)) > kIntegerFractionTolerance) return check;
      break;
    }
    case ValueKind::Time: {
      check.expected = tr("временем ММ:СС");
      if (hasLimits()) {
        check.expected += strprintf(trFormat(" от %s до %s"), timeText(minimum).c_str(), timeText(maximum).c_str());
      }
      const std::optional<double> seconds = typedSeconds(text);
      if (!seconds || *seconds > kLargestWord) return check;
      if (hasLimits() && (*seconds < minimum || *seconds > maximum)) return check;
      break;
    }
    case ValueKind::Void:
      check.expected = tr("пустым");
      if (!text.empty()) return check;
      break;
    case ValueKind::String:
    case ValueKind::NetworkName:
      break;  // dealt with above
    case ValueKind::Enumeration: {
      const std::vector<std::string> list = EnumerationList(type);
      const std::string wanted = foldChoice(text);
      std::string shown;
      for (const std::string& entry : list) {
        // An entry beyond the scratch text could not be sent whole.
        if (LimitScratchText(entry).size() != entry.size()) continue;
        if (foldChoice(entry) == wanted) {
          check.stored = entry;
          check.accepted = true;
          return check;
        }
        // A hidden choice is taken (the module may hold it) but not offered.
        if (entry.find("<hide>") != std::string::npos) continue;
        if (!shown.empty()) shown += ", ";
        shown += entry;
      }
      check.expected = tr("одним из: ") + shown;
      return check;
    }
  }
  check.accepted = true;
  return check;
}

DecimalReading ReadDecimal(std::string_view text, bool allowExponent, bool commaIsPoint) {
  DecimalReading result;
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;

  // The accepted characters are collected without a leading '+', which from_chars refuses.
  std::string number;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') number.push_back('-');
    ++i;
  }
  std::size_t mantissaDigits = 0;
  long integerDigits = 0;  // significant digits before the point, for the size of an overflow
  bool significant = false;
  while (i < text.size() && isDigit(text[i])) {
    if (text[i] != '0') significant = true;
    if (significant) ++integerDigits;
    number.push_back(text[i++]);
    ++mantissaDigits;
  }
  if (i < text.size() && (text[i] == '.' || (commaIsPoint && text[i] == ','))) {
    std::size_t j = i + 1;
    std::size_t fractionDigits = 0;
    while (j < text.size() && isDigit(text[j])) ++j, ++fractionDigits;
    if (mantissaDigits + fractionDigits > 0) {
      number.push_back('.');
      number.append(text.substr(i + 1, j - i - 1));
      mantissaDigits += fractionDigits;
      i = j;
    }
  }
  if (mantissaDigits == 0) return result;

  long exponent = 0;
  if (allowExponent && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    bool negative = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) negative = text[j++] == '-';
    const std::size_t digitsStart = j;
    while (j < text.size() && isDigit(text[j])) {
      if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
      ++j;
    }
    if (j > digitsStart) {
      if (negative) exponent = -exponent;
      number += strprintf("e%ld", exponent);
      i = j;
    }
  }

  double v = 0.0;
  const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: infinity or zero by the size of the number.
    const bool negative = number.front() == '-';
    const double magnitude = (integerDigits + exponent > 0) ? std::numeric_limits<double>::infinity() : 0.0;
    v = negative ? -magnitude : magnitude;
  } else if (ec != std::errc()) {
    return result;
  }
  result.value = v;
  result.consumed = i;
  result.ok = true;
  return result;
}

std::optional<double> ReadTypedNumber(std::string_view text, bool allowExponent) {
  const DecimalReading r = ReadDecimal(text, allowExponent, /*commaIsPoint=*/true);
  if (!r.ok || r.consumed != text.size()) return std::nullopt;
  return r.value;
}

std::string FormatFixed3(double v) {
  // Room for the largest double written out in full: 309 digits, sign, point and 3 decimals.
  char buffer[400];
  const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, 3);
  if (ec != std::errc()) return strprintf("%.3f", v);
  return std::string(buffer, ptr);
}

}  // namespace kvtr
