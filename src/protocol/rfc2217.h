// Telnet as a gateway speaks it, with the COM port control option of RFC 2217.
//
// The byte 0xFF (IAC) begins a Telnet command, so a 0xFF of the data travels doubled both ways.
// Options are negotiated with WILL/WONT/DO/DONT; the state of each follows the "Q method" of
// RFC 1143 (without its queue), so that a side never answers a confirmation and no negotiation
// loops. Both sides want BINARY (no NUL after a carriage return, no translation) and
// SUPPRESS-GO-AHEAD; every other option is refused, except COM-PORT-OPTION between the two roles.
//
// COM-PORT-OPTION subnegotiations (IAC SB 44 command value IAC SE) set the serial side of the
// gateway; the server confirms each with command + 100 and the value it now uses:
//   1 SET-BAUDRATE  4 bytes, most significant first (0 asks for the current speed)
//   2 SET-DATASIZE  5..8                  3 SET-PARITY  1 none, 2 odd, 3 even, 4 mark, 5 space
//   4 SET-STOPSIZE  1 one, 2 two, 3 one and a half
//   5 SET-CONTROL   1 no flow control, among others
// One class serves both roles: the program is the client; the simulated module's gateway is the
// server. It is pure: bytes in, data and answers out.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kvtr {

namespace telnet {
inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kOptionBinary = 0;
inline constexpr std::uint8_t kOptionSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptionComPort = 44;
}  // namespace telnet

namespace rfc2217 {
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
// The server's answer to command c is c + 100.
inline constexpr std::uint8_t kServerOffset = 100;

inline constexpr std::uint8_t kParityNone = 1;
inline constexpr std::uint8_t kParityOdd = 2;
inline constexpr std::uint8_t kParityEven = 3;
inline constexpr std::uint8_t kParityMark = 4;
inline constexpr std::uint8_t kParitySpace = 5;
inline constexpr std::uint8_t kControlNoFlowControl = 1;
}  // namespace rfc2217

// The serial side of a gateway as COM-PORT-OPTION carries it; a field is empty until set or told.
struct ComPortLine {
  std::optional<std::uint32_t> baudRate;
  std::optional<std::uint8_t> dataSize;
  std::optional<std::uint8_t> parity;    // rfc2217::kParity...
  std::optional<std::uint8_t> stopSize;  // 1 or 2 (3: one and a half)

  bool operator==(const ComPortLine&) const = default;
};

class TelnetSession {
 public:
  enum class Role { Client, Server };
  // How the other side stands on COM-PORT-OPTION.
  enum class ComPortOption { Pending, Agreed, Refused };

  explicit TelnetSession(Role role);

  // What this side says first: its offers and requests of options.
  [[nodiscard]] std::vector<std::uint8_t> Greeting();

  // Takes bytes from the network. Data goes to `data`; what the protocol answers (option
  // negotiation, and on the server the confirmation of each COM port setting) goes to `reply`.
  void Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& reply);

  // Data made ready for the network: every 0xFF doubled.
  static void Escape(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out);

  // Client: the subnegotiations that set `line` (its empty fields are left alone), and no flow
  // control.
  [[nodiscard]] static std::vector<std::uint8_t> LineRequest(const ComPortLine& line);

  // Client: what the server has confirmed. Server: what the client has asked for.
  [[nodiscard]] const ComPortLine& told() const { return told_; }
  // Server: the line it reports when asked for a current value (a request with value 0).
  void SetCurrentLine(const ComPortLine& line) { current_ = line; }

  [[nodiscard]] ComPortOption comPortOption() const;

 private:
  enum class Q : std::uint8_t { No, Yes, WantYes };
  enum class State : std::uint8_t { Data, Command, Option, SubOption, SubData, SubCommand };

  bool Accepts(std::uint8_t option) const;
  void Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& reply);
  void Subnegotiation(std::vector<std::uint8_t>& reply);

  Role role_;
  State state_ = State::Data;
  std::uint8_t verb_ = 0;
  // Ours: what we do (WILL); theirs: what the other side does (its WILL).
  std::array<Q, 256> ours_{};
  std::array<Q, 256> theirs_{};
  bool comPortRefused_ = false;
  std::uint8_t subOption_ = 0;
  std::vector<std::uint8_t> sub_;
  bool subOverflow_ = false;
  ComPortLine told_;
  ComPortLine current_;
};

}  // namespace kvtr
