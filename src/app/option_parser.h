// GNU-style command-line options for the command-line tool: "--name", "--name=value",
// "--name value", "-x", "-x value", options and operands in any order, "--" ends the options.
// An option may also take a list: every following argument up to the next option.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvtr {

enum class OptionArgument {
  None,      // a switch: --write
  Required,  // one value: --address 16, --address=16; given twice, the last counts
  List,      // the following arguments up to the next option: --data 00 02 1F
};

struct OptionSpec {
  std::string_view longName;  // without the leading "--"
  char shortName = 0;         // 0 when the option has no one-letter form
  OptionArgument argument = OptionArgument::None;
};

class ParsedOptions {
 public:
  // Whether the option was given (by its long name).
  [[nodiscard]] bool has(std::string_view name) const;
  // The value of a Required option as given last.
  [[nodiscard]] std::optional<std::string> value(std::string_view name) const;
  // Every value of a List option, from every time it was given, in order.
  [[nodiscard]] std::vector<std::string> values(std::string_view name) const;

  std::vector<std::string> operands;  // arguments that are not options, in order

  struct Entry {
    std::string name;
    std::vector<std::string> values;
  };
  std::vector<Entry> entries;  // options in the order they were given
};

struct OptionParseResult {
  bool ok = false;
  std::string error;  // "неизвестный параметр «--frob»" and the like when not ok
  // Index of the first argument not looked at: with `stopAtFirstOperand` the operand that ended
  // the options (for a command and its own arguments), otherwise args.size().
  std::size_t next = 0;
};

// Parses `args` (without the program name) against `optionSpecs`. With `stopAtFirstOperand` the
// parsing ends at the first operand, which is not consumed; "--" is then consumed and also ends
// the parsing.
[[nodiscard]] OptionParseResult parseOptions(std::span<const std::string> args, std::span<const OptionSpec> optionSpecs,
                                             ParsedOptions& out, bool stopAtFirstOperand = false);

// A whole number written in decimal, or in hexadecimal after "0x", within [minimum, maximum];
// an optional leading '-' for negative numbers. Nothing else may follow the digits.
[[nodiscard]] std::optional<std::int64_t> parseNumber(std::string_view text, std::int64_t minimum,
                                                      std::int64_t maximum);

// A 16-bit hash written as 1 to 4 hexadecimal digits, with or without "0x".
[[nodiscard]] std::optional<std::uint16_t> parseHashText(std::string_view text);

// Bytes written as pairs of hexadecimal digits ("00 02 1f", "00021F", "0x00 0x02"), appended to
// `out`. Blanks and tabs separate groups; each group is an even number of digits after an
// optional "0x". False, with `out` unchanged, for anything else.
[[nodiscard]] bool parseHexBytes(std::string_view text, std::vector<std::uint8_t>& out);

// Bytes as upper-case hexadecimal pairs separated by blanks: "00 02 1F"; empty for no bytes.
[[nodiscard]] std::string formatHexBytes(std::span<const std::uint8_t> bytes);

}  // namespace kvtr
