#include "app/option_parser.h"

#include <algorithm>

#include "common/catalogue.h"
#include "common/format.h"

namespace kvtr {

namespace {

const OptionSpec* findLong(std::span<const OptionSpec> optionSpecs, std::string_view name) {
  for (const OptionSpec& optionSpec : optionSpecs) {
    if (optionSpec.longName == name) return &optionSpec;
  }
  return nullptr;
}

const OptionSpec* findShort(std::span<const OptionSpec> optionSpecs, char name) {
  for (const OptionSpec& optionSpec : optionSpecs) {
    if (optionSpec.shortName != 0 && optionSpec.shortName == name) return &optionSpec;
  }
  return nullptr;
}

// "-" alone is an operand (by convention standard input); "--" is the end of the options.
bool looksLikeOption(std::string_view arg) { return arg.size() > 1 && arg[0] == '-'; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool hasHexPrefix(std::string_view text) { return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'); }

}  // namespace

bool ParsedOptions::has(std::string_view name) const {
  return std::any_of(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == name; });
}

std::optional<std::string> ParsedOptions::value(std::string_view name) const {
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (it->name == name && !it->values.empty()) return it->values.back();
  }
  return std::nullopt;
}

std::vector<std::string> ParsedOptions::values(std::string_view name) const {
  std::vector<std::string> all;
  for (const Entry& e : entries) {
    if (e.name == name) all.insert(all.end(), e.values.begin(), e.values.end());
  }
  return all;
}

OptionParseResult parseOptions(std::span<const std::string> args, std::span<const OptionSpec> optionSpecs,
                               ParsedOptions& out, bool stopAtFirstOperand) {
  OptionParseResult result;
  std::size_t i = 0;
  const auto fail = [&](std::string message) {
    result.error = std::move(message);
    result.next = i;
    return result;
  };

  while (i < args.size()) {
    const std::string& arg = args[i];
    if (arg == "--") {
      ++i;
      if (stopAtFirstOperand) break;
      out.operands.insert(out.operands.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
      i = args.size();
      break;
    }
    if (!looksLikeOption(arg)) {
      if (stopAtFirstOperand) break;
      out.operands.push_back(arg);
      ++i;
      continue;
    }

    const OptionSpec* optionSpec = nullptr;
    std::optional<std::string> attached;  // the value written into the same argument
    std::string shown;                    // the option as the user wrote it, for messages
    if (arg[1] == '-') {
      const std::size_t eq = arg.find('=');
      const std::string_view name = std::string_view(arg).substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      shown = "--" + std::string(name);
      optionSpec = findLong(optionSpecs, name);
      if (eq != std::string::npos) attached = arg.substr(eq + 1);
    } else {
      shown = arg.substr(0, 2);
      optionSpec = findShort(optionSpecs, arg[1]);
      if (arg.size() > 2) {
        // "-a16": the rest is the value. Bundled switches ("-wq") are not offered; no option of
        // the tool needs them and they would make "-1" ambiguous.
        attached = arg.substr(2);
      }
    }
    if (optionSpec == nullptr) return fail(strprintf(trFormat("неизвестный параметр «%s»"), shown.c_str()));
    ++i;

    ParsedOptions::Entry entry{std::string(optionSpec->longName), {}};
    switch (optionSpec->argument) {
      case OptionArgument::None:
        if (attached) return fail(strprintf(trFormat("параметр «%s» не принимает значения"), shown.c_str()));
        break;
      case OptionArgument::Required:
        if (attached) {
          entry.values.push_back(*attached);
        } else if (i < args.size()) {
          // The next argument is the value even when it starts with '-': "--address-offset -1".
          entry.values.push_back(args[i++]);
        } else {
          return fail(strprintf(trFormat("параметру «%s» нужно значение"), shown.c_str()));
        }
        break;
      case OptionArgument::List:
        if (attached) entry.values.push_back(*attached);
        while (i < args.size() && !looksLikeOption(args[i])) entry.values.push_back(args[i++]);
        break;
    }
    out.entries.push_back(std::move(entry));
  }
  result.ok = true;
  result.next = i;
  return result;
}

std::optional<std::int64_t> parseNumber(std::string_view text, std::int64_t minimum, std::int64_t maximum) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  int base = 10;
  if (hasHexPrefix(text)) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  // Large enough for any range the tool asks for; longer digit strings overflow and are refused.
  constexpr std::int64_t kLimit = std::int64_t{1} << 40;
  std::int64_t value = 0;
  for (const char c : text) {
    const int digit = hexDigit(c);
    if (digit < 0 || digit >= base) return std::nullopt;
    value = value * base + digit;
    if (value > kLimit) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < minimum || value > maximum) return std::nullopt;
  return value;
}

std::optional<std::uint16_t> parseHashText(std::string_view text) {
  if (hasHexPrefix(text)) text.remove_prefix(2);
  if (text.empty() || text.size() > 4) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    const int digit = hexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return static_cast<std::uint16_t>(value);
}

bool parseHexBytes(std::string_view text, std::vector<std::uint8_t>& out) {
  std::vector<std::uint8_t> bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ' || text[i] == '\t') {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t') ++end;
    std::string_view group = text.substr(i, end - i);
    if (hasHexPrefix(group)) group.remove_prefix(2);
    if (group.empty() || group.size() % 2 != 0) return false;
    for (std::size_t k = 0; k < group.size(); k += 2) {
      const int high = hexDigit(group[k]);
      const int low = hexDigit(group[k + 1]);
      if (high < 0 || low < 0) return false;
      bytes.push_back(static_cast<std::uint8_t>((high << 4) | low));
    }
    i = end;
  }
  out.insert(out.end(), bytes.begin(), bytes.end());
  return true;
}

std::string formatHexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const std::uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

}  // namespace kvtr
