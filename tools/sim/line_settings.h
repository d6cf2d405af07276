// The simulated module's serial settings: what it listens with, how they are kept in its six
// network parameters, and how they compare with what a program set on the pseudo-terminal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvtr::sim {

enum class Parity : std::uint8_t { None = 0, Even = 1, Odd = 2 };

struct LineSettings {
  int baud = 9600;
  int dataBits = 8;
  Parity parity = Parity::None;
  int stopBits = 1;
  int address = 16;
  int addressBits = 8;  // 8 or 11

  bool operator==(const LineSettings&) const = default;

  // One character on the wire in milliseconds: start bit, data bits, parity bit, stop bits.
  // 9600 8N1: 10 bits / 9600 = 1.0417 ms.
  [[nodiscard]] double characterMs() const;
  // "9600 8N1, address 16/8"
  [[nodiscard]] std::string describe() const;
};

// Settings given on the command line; each replaces the one the module kept.
struct LineOverrides {
  std::optional<int> baud;
  std::optional<int> dataBits;
  std::optional<Parity> parity;
  std::optional<int> stopBits;
  std::optional<int> address;
  std::optional<int> addressBits;

  [[nodiscard]] LineSettings ApplyTo(LineSettings line) const;
};

// The speeds the module's "bPS" list offers, by position.
inline constexpr int kModuleSpeeds[] = {2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 115200};

// The position of a speed in that list, or -1.
[[nodiscard]] int speedPosition(int baud);
[[nodiscard]] std::optional<Parity> parseParity(std::string_view text);  // none|even|odd (also n|e|o)
[[nodiscard]] std::string_view parityName(Parity parity);

// The six network parameters as the module stores them (data-field bytes). "Addr" always takes
// two bytes; the others are one byte each, the position in their lists.
struct NetworkBytes {
  std::uint8_t bps = 2;       // 9600
  std::uint8_t dataBits = 1;  // "7:8"
  std::uint8_t parity = 0;    // "Отсутствует:Четность:Нечетность"
  std::uint8_t stopBits = 0;  // "1:2"
  std::uint8_t addressLength = 0;  // "8:11"
  std::uint16_t address = 16;
};
[[nodiscard]] NetworkBytes toNetworkBytes(const LineSettings& line);
// Fails (empty) when a byte is outside its list.
[[nodiscard]] std::optional<LineSettings> fromNetworkBytes(const NetworkBytes& bytes);

// Why a combination of network settings is refused, or empty when the module takes it:
// an address above 255 needs 11-bit addressing (and the native protocol), and 8 data bits with
// a parity bit leave no room for a second stop bit.
[[nodiscard]] std::string refusedCombination(const LineSettings& line, int protocol);

// What a pseudo-terminal shows of the settings a program made on it. The kernel keeps 8 data
// bits and clears the parity-enable flag whatever is asked, so neither the data bits nor even
// parity can be seen (even parity looks like none, and so does space parity); the odd-parity
// flag, the stick-parity flag (mark parity is odd plus stick), the stop bits and the speed stay
// as set.
struct LineView {
  int baud = 0;  // 0 when the speed cannot be read
  int stopBits = 1;
  bool oddParity = false;
};

// True when a module with `line` hears characters sent with `view`: the same speed, the same
// stop bits, and odd parity on both or on neither.
[[nodiscard]] bool hears(const LineSettings& line, const LineView& view);
// Why not, for the frame log.
[[nodiscard]] std::string mismatchText(const LineSettings& line, const LineView& view);

}  // namespace kvtr::sim
