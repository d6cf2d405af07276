// The program's own command line: the options that start an unattended job (read the module into
// a file, write a file into the module), set the port, the window and the modes, and name the
// error log and the exit event. The desktop program and `kvtr batch` parse it the same way.
//
// An argument that begins with "/" or "-" is an option argument; any other is the configuration
// file. An option argument holds tokens separated by "/" ("/port:3/bps:9600/write" is three),
// each "key" or "key:value". Every token, known or not, puts the program into batch mode. Keys
// and keyword values ("even", "on"...) are compared without regard to case; file paths and event
// names keep their case, since a file system may tell "Log.txt" from "log.txt".
//
// Paths on POSIX. An absolute path begins with "/", like an option argument. An argument that
// begins with "/" is therefore an option argument only when the key of every one of its tokens
// is a keyword of the table below; anything else ("/home/user/Module A.kvtr", "/x/data.kvtr") is
// a file path. An argument that begins with "-" is always an option argument: a file whose name
// begins with "-" is written "./-name". The values of "elog", "exitevent" and a "port" that is a
// device path hold slashes themselves, so each of them takes the rest of its argument: put it
// last ("/read/elog:/tmp/kvtr.log"). On Windows paths begin with a drive letter or "\\", "/" is
// always an option, and every value ends at the next "/".
//
// Relative paths are taken from the caller's working directory and stored absolute.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvtr {

// Bits of StartupOptions::flags.
namespace startup_flag {
inline constexpr std::uint32_t kWriteJob = 0x01;      // "write"
inline constexpr std::uint32_t kPortSettings = 0x02;  // port settings were given
inline constexpr std::uint32_t kClose = 0x04;         // "close" after the job
inline constexpr std::uint32_t kApply = 0x08;         // "aply"
inline constexpr std::uint32_t kCalibrateJob = 0x10;  // "calibrate"
inline constexpr std::uint32_t kBatch = 0x20;         // at least one option token was seen
inline constexpr std::uint32_t kReadJob = 0x40;       // "read"
}  // namespace startup_flag

// Bits of StartupOptions::windowFlags: which of x, y, w, h were given.
namespace window_flag {
inline constexpr std::uint8_t kX = 0x01;
inline constexpr std::uint8_t kY = 0x02;
inline constexpr std::uint8_t kW = 0x04;
inline constexpr std::uint8_t kH = 0x08;
}  // namespace window_flag

// Bits of StartupOptions::modeFlags.
namespace mode_flag {
inline constexpr std::uint8_t kAutoReadOn = 0x01;
inline constexpr std::uint8_t kAutoReadOff = 0x02;
inline constexpr std::uint8_t kAutoWriteOn = 0x04;
inline constexpr std::uint8_t kAutoWriteOff = 0x08;
inline constexpr std::uint8_t kTest = 0x10;
inline constexpr std::uint8_t kNoCommunication = 0x20;
// "silent": automatic reading off, immediate writing off, no communication.
inline constexpr std::uint8_t kSilent = kAutoReadOff | kAutoWriteOff | kNoCommunication;
}  // namespace mode_flag

// StartupOptions::parity.
inline constexpr std::uint8_t kStartupParityEven = 1;
inline constexpr std::uint8_t kStartupParityOdd = 2;
inline constexpr std::uint8_t kStartupParityNone = 3;

// StartupOptions::rs485.
inline constexpr std::uint8_t kRs485Auto = 1;
inline constexpr std::uint8_t kRs485Off = 2;
inline constexpr std::uint8_t kRs485On = 3;

// The longest address and stop-bits texts the record holds.
inline constexpr std::size_t kMaxAddressText = 5;
inline constexpr std::size_t kMaxStopBitsText = 4;

// What the command line asks for. A value-initialised record is the cleared one: nothing given.
struct StartupOptions {
  std::uint32_t flags = 0;
  std::uint8_t windowFlags = 0;
  std::uint8_t modeFlags = 0;
  std::uint8_t port = 0;  // COM port number; 0 not given
  std::uint32_t baudRate = 0;
  std::uint8_t parity = 0;  // 1 even, 2 odd, 3 none; 0 not given
  std::string address;      // at most kMaxAddressText characters; empty not given
  std::uint8_t dataBits = 0;
  std::string stopBits;  // at most kMaxStopBitsText characters; empty not given
  std::uint8_t addressLength = 0;
  std::uint8_t rs485 = 0;  // 1 "auto", 2 "off", 3 "on"; 0 not given
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t w = 0;
  std::int32_t h = 0;
  // A port given as a device path (POSIX: "/port:/dev/ttyUSB0"); wins over `port`.
  std::string portPath;

  [[nodiscard]] bool has(std::uint32_t flag) const { return (flags & flag) != 0; }
  [[nodiscard]] bool hasMode(std::uint8_t flag) const { return (modeFlags & flag) != 0; }
  [[nodiscard]] bool batchMode() const { return has(startup_flag::kBatch); }

  friend bool operator==(const StartupOptions&, const StartupOptions&) = default;
};

// How option arguments are told from paths (see the top of this file).
enum class CommandLineSyntax {
  Posix,
  Windows,
};
[[nodiscard]] CommandLineSyntax hostCommandLineSyntax();

// Everything a command line gives.
struct CommandLine {
  StartupOptions options;
  // The last plain argument, absolute; empty when none.
  std::filesystem::path filePath;
  // "elog": where failures of exchanges are appended; empty when none.
  std::filesystem::path errorLogPath;
  // "exitevent": the name of the event that ends the program; empty when none.
  std::string exitEventName;
  // What was given but has no effect, in the user's words: unknown keys, values that are not
  // numbers or keywords, values out of range. The program goes on without them.
  std::vector<std::string> warnings;
};

// The keywords of the table, in lower case.
[[nodiscard]] std::span<const std::string_view> startupKeywords();

// Reads a whole number as the C conversion "%i" does: blanks skipped, a sign, then "0x"/"0X"
// and hexadecimal digits, "0" and octal digits, or decimal digits; the number ends at the first
// character that cannot continue it. Nothing when the text does not begin with a number. A
// number too large for 64 bits is kept at the largest value, so range checks still refuse it.
[[nodiscard]] std::optional<std::int64_t> scanInteger(std::string_view text);

// Whether an argument is an option argument under `syntax`.
[[nodiscard]] bool isOptionArgument(std::string_view argument, CommandLineSyntax syntax);

// Parses the arguments after the program name. Relative paths are taken from `workingDirectory`.
// Nothing is touched outside the record: the caller creates the error log and opens the event.
[[nodiscard]] CommandLine parseCommandLine(std::span<const std::string> arguments,
                                           const std::filesystem::path& workingDirectory,
                                           CommandLineSyntax syntax = hostCommandLineSyntax());

// Parses one option argument (without its leading "/" or "-") into `out`.
void parseOptionArgument(std::string_view text, CommandLine& out, const std::filesystem::path& workingDirectory,
                         CommandLineSyntax syntax);

}  // namespace kvtr
