// The value of one module parameter and its conversions. Every value is held as text (the text
// the tree shows and the operator edits); the type text decides how that text travels in the
// data field of a frame:
//
//   float        IEEE 754 single, most significant byte first; "r.oe" sends only the upper 3
//   int          1 or 2 bytes, unsigned, big-endian               text "%u"
//   CLK_frm      seconds, 1 or 2 bytes, big-endian                text "mm:ss"
//   string/ASCI  characters, last character first
//   name         4 character codes of the network name, first character in the last byte
//   void         nothing
//   anything else: an enumeration "A:B:C", sent as the position of the text in the list
//
// A few service names ("dev", "exit", "bPS", ...) are decoded by name before the type counts.
// Texts are UTF-8 inside the program; bytes that the module sends as characters are
// Windows-1251 and are converted on the way in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvtr {

// The value text of a parameter whose value is not known.
inline constexpr std::string_view kNoDataText = "Нет данных";
// The type of a converter built from a name alone.
inline constexpr std::string_view kUnknownTypeText = "неизвестен";

// The data field of a frame: at most 15 bytes (the length nibble of the control byte).
struct DataField {
  static constexpr std::size_t kCapacity = 15;
  std::array<std::uint8_t, kCapacity> bytes{};
  std::size_t length = 0;

  [[nodiscard]] std::span<const std::uint8_t> view() const { return {bytes.data(), length}; }
  // False, and nothing stored, when the field is full.
  bool push(std::uint8_t byte);
  void clear() { length = 0; }
};

// A conversion works on a scratch text of 512 bytes, zero terminator included, as the module's
// texts are single-byte Windows-1251. Inside the program the same limit is kept in characters:
// at most 511 of them, cut at a character boundary so that the UTF-8 stays well formed and the
// text still fits 511 bytes once it is converted for the module or a file.
inline constexpr std::size_t kScratchTextChars = 511;
[[nodiscard]] std::string LimitScratchText(std::string_view text);

// Which conversion rule a type text selects.
enum class ValueKind {
  Float,        // first token "float"
  Integer,      // first token "int"
  Time,         // first token "CLK_frm"
  String,       // whole type "string" or "ASCI"
  NetworkName,  // whole type "name"
  Void,         // whole type "void"
  Enumeration,  // anything else
};
[[nodiscard]] ValueKind ClassifyType(std::string_view type);

// The entries of the enumeration list of a type: the tokens between ":" (empty ones dropped),
// each "_" read as a blank, at most 127 of them.
inline constexpr std::size_t kMaxEnumerationEntries = 127;
[[nodiscard]] std::vector<std::string> EnumerationList(std::string_view type);

// What the value rules say of a text for a parameter: the one check of a value typed by the
// operator, of an edit in a file, and of every value before the write step sends it.
struct ValueCheck {
  bool accepted = false;
  // Accepted: the text as the parameter keeps it (a float "%.3f", a choice as its list writes it).
  std::string stored;
  // False: the module takes no value for this parameter at all ("dev", "ver", "exit", strings).
  bool writable = true;
  // Refused but writable: what the value must be, worded to follow "должно быть "
  // ("целым числом от 0 до 250", "одним из: Нет, Да").
  std::string expected;

  // Refused: why, as a clause ("значение должно быть ...", "параметр только читается из прибора").
  [[nodiscard]] std::string reason() const;
};

// The comment of a value that a write does not send because the value rules refuse it:
// "Значение 'ZZ' не записано: значение должно быть целым числом от 0 до 250".
[[nodiscard]] std::string ValueNotWrittenText(std::string_view text, const ValueCheck& check);

// The character alphabet of network names and parameter names: '0'..'9', 'A'..'Z', '-', '_',
// '/', ' ' are the indexes 0..39. A code on the line is index x 2, plus 1 when a '.' follows the
// character.
inline constexpr int kNameFillerIndex = 39;          // ' ', also the filler of short names
inline constexpr std::uint8_t kNameFillerCode = 78;  // 39 x 2
// The index of a character (letters in either case), or -1 when it is not in the alphabet.
[[nodiscard]] int NetworkNameIndex(char c);
// The character of an index; indexes past the alphabet read as a blank.
[[nodiscard]] char NetworkNameChar(unsigned index);

// The "exit" answer carries a diagnostic code of the module's self-check.
[[nodiscard]] std::string ExitDiagnosticText(unsigned code);

class MyConverter {
 public:
  static constexpr int kSchema = 3;

  MyConverter() = default;
  // A converter known only by its name, as the service commands build them.
  explicit MyConverter(std::string parameterName);
  virtual ~MyConverter() = default;
  MyConverter(const MyConverter&) = default;
  MyConverter& operator=(const MyConverter&) = default;

  [[nodiscard]] virtual const char* GetRuntimeClassName() const { return "MyConverter"; }

  // Turns the data field of an answer into text. 1: `text` holds the value; -1: `text` holds an
  // error message that replaces the value shown; 0: nothing usable, `text` untouched. An
  // indexed parameter's answer carries the 2-byte index after the value; each accepted length
  // is therefore also accepted with two more bytes, which are ignored.
  [[nodiscard]] int ConvertFromData(std::span<const std::uint8_t> data, std::string& text) const;

  // Builds the data field of a write request from `text`, a scratch copy of the value (cut to
  // the scratch limit on entry). 1: `out` holds the bytes (possibly none); 0: the text cannot
  // be encoded; -1: this parameter cannot be written, or the text was refused and the reason
  // written back into `text` (network names).
  [[nodiscard]] int ConvertToData(std::string& text, DataField& out) const;

  // Checks text typed by the operator (or found in a file) against the type and the limits:
  // a number must be the whole text (a comma reads as the decimal point), whole and within 16
  // bits for "int" and "CLK_frm", within the limits when they are set; a choice must be one of
  // the list (letter case, "_" and blank alike); a network name at most 4 characters of its
  // alphabet. Only an accepted text can be encoded by ConvertToData.
  [[nodiscard]] ValueCheck CheckText(std::string_view text) const;

  [[nodiscard]] ValueKind kind() const { return ClassifyType(type); }
  // Both limits 0 means no limits.
  [[nodiscard]] bool hasLimits() const { return minimum != 0.0 || maximum != 0.0; }

  std::string name;                          // short name as the module knows it, e.g. "r.oe"
  std::string value{kNoDataText};            // the value as text
  std::string type;                          // type text, e.g. "float", "int", "OFF:ON"
  std::uint32_t precision = 0;               // 1..3 from "int:2" and the like; display only
  double maximum = 0.0;
  double minimum = 0.0;
};

// Lenient reading of a decimal number as the conversions need it: leading blanks skipped, an
// optional sign, digits with an optional fraction and, when `allowExponent`, an exponent; the
// reading stops at the first character that does not fit. Independent of the C locale.
struct DecimalReading {
  double value = 0.0;
  std::size_t consumed = 0;  // characters used, leading blanks included; 0 when nothing was read
  bool ok = false;           // a number was read
};
// With `commaIsPoint` a ',' is read as the decimal point too.
[[nodiscard]] DecimalReading ReadDecimal(std::string_view text, bool allowExponent = true, bool commaIsPoint = false);

// A number as the operator types it: leading blanks allowed, a ',' or a '.' as the decimal
// point, and nothing after the number. None for anything else.
[[nodiscard]] std::optional<double> ReadTypedNumber(std::string_view text, bool allowExponent = true);

// "%.3f" of a value, independent of the C locale.
[[nodiscard]] std::string FormatFixed3(double v);

}  // namespace kvtr
