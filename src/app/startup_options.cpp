#include "app/startup_options.h"

#include "common/catalogue.h"
#include "common/format.h"

#include <array>
#include <cctype>
#include <limits>

#include "common/strings.h"
#include "common/utf8_path.h"
#include "protocol/network_port_name.h"

namespace kvtr {

namespace {

constexpr std::array<std::string_view, 23> kKeywords = {
    "write", "read",     "port",     "bps",       "prty",    "addr",  "len",       "sbit",
    "alen",  "rs485",    "aply",     "x",         "y",       "w",     "h",         "autoread",
    "autowrite", "silent", "close",  "calibrate", "elog",    "exitevent", "test",
};

bool isKeyword(std::string_view lowerKey) {
  for (std::string_view k : kKeywords) {
    if (k == lowerKey) return true;
  }
  return false;
}

// One "key" or "key:value" piece of an option argument.
struct Token {
  std::string key;  // lower case
  std::string_view value;
  bool hasValue = false;
};

// Keys whose value is a path or a name that may hold "/" on POSIX: the value runs to the end of
// the argument. "port" only when its value is a device path.
bool takesRestOfArgument(std::string_view key, std::string_view valueStart) {
  if (key == "elog" || key == "exitevent") return true;
  return key == "port" && !valueStart.empty() && valueStart.front() == '/';
}

std::vector<Token> splitTokens(std::string_view text, CommandLineSyntax syntax) {
  std::vector<Token> tokens;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == '/') {
      ++pos;  // empty pieces are skipped
      continue;
    }
    std::size_t end = text.find('/', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view piece = text.substr(pos, end - pos);
    Token token;
    const std::size_t colon = piece.find(':');
    token.key = toLowerAscii(piece.substr(0, colon));
    if (colon != std::string_view::npos) {
      token.hasValue = true;
      const std::size_t valueBegin = pos + colon + 1;
      if (syntax == CommandLineSyntax::Posix && takesRestOfArgument(token.key, text.substr(valueBegin))) {
        end = text.size();
      } else if (const std::size_t scheme = networkSchemeLength(text.substr(valueBegin));
                 token.key == "port" && scheme != 0) {
        // A gateway's port name holds "//" after its scheme: it runs to the next "/" after that.
        end = text.find('/', valueBegin + scheme);
        if (end == std::string_view::npos) end = text.size();
      }
      token.value = text.substr(valueBegin, end - valueBegin);
    }
    tokens.push_back(std::move(token));
    pos = end;
  }
  return tokens;
}

std::string_view stripQuotes(std::string_view text) {
  while (!text.empty() && text.front() == '"') text.remove_prefix(1);
  while (!text.empty() && text.back() == '"') text.remove_suffix(1);
  return text;
}

std::filesystem::path absoluteFrom(const std::filesystem::path& workingDirectory, std::string_view text) {
  const std::filesystem::path p = pathFromUtf8(text);
  if (p.is_absolute() || workingDirectory.empty()) return p;
  return workingDirectory / p;
}

void warn(CommandLine& out, const Token& token, std::string_view what) {
  const std::string option = token.key + (token.hasValue ? ":" + std::string(token.value) : "");
  out.warnings.push_back(strprintf(trFormat("параметр «%s»: %s"), option.c_str(), tr(std::string(what).c_str())));
}

// A number within [low, high]; a warning and nothing otherwise.
template <typename T>
bool readNumber(CommandLine& out, const Token& token, T& field, std::int64_t low, std::int64_t high) {
  const auto n = scanInteger(token.value);
  if (!n) {
    warn(out, token, trMark("значение — не число"));
    return false;
  }
  if (*n < low || *n > high) {
    warn(out, token, trMark("значение вне допустимых пределов"));
    return false;
  }
  field = static_cast<T>(*n);
  return true;
}

bool readText(CommandLine& out, const Token& token, std::string& field, std::size_t maxLength) {
  if (token.value.size() > maxLength) {
    warn(out, token, trMark("значение слишком длинное"));
    return false;
  }
  field = std::string(token.value);
  return !field.empty();
}

void handleToken(const Token& token, CommandLine& out, const std::filesystem::path& workingDirectory) {
  StartupOptions& o = out.options;
  o.flags |= startup_flag::kBatch;
  const std::string& k = token.key;
  const std::string_view v = token.value;
  constexpr std::int64_t kByte = 255;
  constexpr std::int64_t kInt = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kIntMin = std::numeric_limits<std::int32_t>::min();

  if (k == "write") {
    o.flags |= startup_flag::kWriteJob;
  } else if (k == "read") {
    o.flags |= startup_flag::kReadJob;
  } else if (k == "port") {
    if ((!v.empty() && v.front() == '/') || isNetworkPortName(v)) {
      o.portPath = std::string(v);
      o.flags |= startup_flag::kPortSettings;
    } else if (readNumber(out, token, o.port, 0, kByte)) {
      o.portPath.clear();
      o.flags |= startup_flag::kPortSettings;
    }
  } else if (k == "bps") {
    if (readNumber(out, token, o.baudRate, 0, kInt)) o.flags |= startup_flag::kPortSettings;
  } else if (k == "prty") {
    std::uint8_t parity = 0;
    if (equalsNoCase(v, "even")) parity = kStartupParityEven;
    else if (equalsNoCase(v, "odd")) parity = kStartupParityOdd;
    else if (equalsNoCase(v, "no")) parity = kStartupParityNone;
    if (parity != 0) {
      o.parity = parity;
      o.flags |= startup_flag::kPortSettings;
    } else {
      warn(out, token, trMark("четность задается как even, odd или no"));
    }
  } else if (k == "addr") {
    if (readText(out, token, o.address, kMaxAddressText)) o.flags |= startup_flag::kPortSettings;
  } else if (k == "len") {
    if (readNumber(out, token, o.dataBits, 0, kByte)) o.flags |= startup_flag::kPortSettings;
  } else if (k == "sbit") {
    if (readText(out, token, o.stopBits, kMaxStopBitsText)) o.flags |= startup_flag::kPortSettings;
  } else if (k == "alen") {
    if (readNumber(out, token, o.addressLength, 0, kByte)) o.flags |= startup_flag::kPortSettings;
  } else if (k == "rs485") {
    if (equalsNoCase(v, "auto")) o.rs485 = kRs485Auto;
    else if (equalsNoCase(v, "off")) o.rs485 = kRs485Off;
    else if (equalsNoCase(v, "on")) o.rs485 = kRs485On;
    else warn(out, token, trMark("режим преобразователя задается как auto, off или on"));
  } else if (k == "aply") {
    o.flags |= startup_flag::kApply;
  } else if (k == "x") {
    if (readNumber(out, token, o.x, kIntMin, kInt)) o.windowFlags |= window_flag::kX;
  } else if (k == "y") {
    if (readNumber(out, token, o.y, kIntMin, kInt)) o.windowFlags |= window_flag::kY;
  } else if (k == "w") {
    if (readNumber(out, token, o.w, kIntMin, kInt)) o.windowFlags |= window_flag::kW;
  } else if (k == "h") {
    if (readNumber(out, token, o.h, kIntMin, kInt)) o.windowFlags |= window_flag::kH;
  } else if (k == "autoread" || k == "autowrite") {
    const bool read = k == "autoread";
    if (equalsNoCase(v, "on")) o.modeFlags |= read ? mode_flag::kAutoReadOn : mode_flag::kAutoWriteOn;
    else if (equalsNoCase(v, "off")) o.modeFlags |= read ? mode_flag::kAutoReadOff : mode_flag::kAutoWriteOff;
    else warn(out, token, trMark("режим задается как on или off"));
  } else if (k == "silent") {
    o.modeFlags |= mode_flag::kSilent;
  } else if (k == "close") {
    o.flags |= startup_flag::kClose;
  } else if (k == "calibrate") {
    o.flags |= startup_flag::kCalibrateJob;
  } else if (k == "elog") {
    const std::string_view path = stripQuotes(v);
    if (path.empty()) warn(out, token, trMark("не названо имя файла"));
    else out.errorLogPath = absoluteFrom(workingDirectory, path);
  } else if (k == "exitevent") {
    const std::string_view name = stripQuotes(v);
    if (name.empty()) warn(out, token, trMark("не названо имя события"));
    else out.exitEventName = std::string(name);
  } else if (k == "test") {
    o.modeFlags |= mode_flag::kTest;
  } else {
    out.warnings.push_back(strprintf(trFormat("неизвестный параметр «%s»"), k.c_str()));
  }
}

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

CommandLineSyntax hostCommandLineSyntax() {
#if defined(_WIN32)
  return CommandLineSyntax::Windows;
#else
  return CommandLineSyntax::Posix;
#endif
}

std::span<const std::string_view> startupKeywords() { return kKeywords; }

std::optional<std::int64_t> scanInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || digitValue(text[i]) > 9) return std::nullopt;
  int base = 10;
  if (text[i] == '0') {
    base = 8;
    if (i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && digitValue(text[i + 2]) < 16) {
      base = 16;
      i += 2;
    }
  }
  // Magnitudes up to 2^63 fit unsigned; beyond that the value stays at the limit.
  constexpr std::uint64_t kLimit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1;
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int d = digitValue(text[i]);
    if (d >= base) break;
    if (magnitude > (kLimit - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base)) {
      magnitude = kLimit;
    } else {
      magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
  }
  if (negative) {
    return magnitude >= kLimit ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(magnitude);
  }
  return magnitude >= kLimit ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(magnitude);
}

bool isOptionArgument(std::string_view argument, CommandLineSyntax syntax) {
  if (argument.empty()) return false;
  if (argument.front() == '-') return true;
  if (argument.front() != '/') return false;
  if (syntax == CommandLineSyntax::Windows) return true;
  for (const Token& token : splitTokens(argument.substr(1), syntax)) {
    if (!isKeyword(token.key)) return false;
  }
  return true;
}

void parseOptionArgument(std::string_view text, CommandLine& out, const std::filesystem::path& workingDirectory,
                         CommandLineSyntax syntax) {
  for (const Token& token : splitTokens(text, syntax)) handleToken(token, out, workingDirectory);
}

CommandLine parseCommandLine(std::span<const std::string> arguments, const std::filesystem::path& workingDirectory,
                             CommandLineSyntax syntax) {
  CommandLine out;
  for (const std::string& argument : arguments) {
    if (isOptionArgument(argument, syntax)) {
      parseOptionArgument(std::string_view(argument).substr(1), out, workingDirectory, syntax);
    } else if (!argument.empty()) {
      out.filePath = absoluteFrom(workingDirectory, argument);
    }
  }
  return out;
}

}  // namespace kvtr
