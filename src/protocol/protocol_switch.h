// The protocol-switch command in the three foreign framings. A module that runs Modbus RTU,
// Modbus ASCII or the '%' command protocol does not hear the device protocol; the connection
// procedure sends it one fixed command in each of those framings so that it goes back to the
// device protocol. These are the builders and checkers of those frames, pure functions like
// the native codec.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kvtr {

// The process-wide protocol mode: 0 is the device protocol, 1..3 the foreign framings that are
// used only while the switch command is sent.
enum class ProtocolMode : std::uint8_t {
  Native = 0,
  ModbusRtu = 1,
  ModbusAscii = 2,
  PercentCommand = 3,
};

// Results of a switch exchange; 0 is success. Their texts come from linkErrorText().
enum LinkResult : int {
  kLinkOk = 0,
  kLinkTimeout = 2,
  kLinkLineErrors = 3,
  kLinkBadChecksum = 4,
  kLinkWrongAddress = 5,
  kLinkWrongAnswer = 6,
};

// "Таймаут при передаче данных (нет связи)", "Ошибки на линии связи", "Ошибка в контрольной
// сумме", "Адрес устройства в запросе не соответствует адресу в ответе.", "Некорректный ответ"
// for 2..6; any other result has no text (empty).
[[nodiscard]] std::string_view linkErrorText(int result);

// The switch command of a mode: write single coil 0xF0F0 to ON (05 F0 F0 FF 00) for both
// Modbus framings, the letters "DORV" for the '%' protocol; empty for the native protocol.
[[nodiscard]] std::span<const std::uint8_t> protocolSwitchPayload(ProtocolMode mode);

// Longest payload the builders take, and the room a request of that payload needs in the
// widest framing (Modbus ASCII: ':', two digits per byte of address, payload and LRC, CR LF).
inline constexpr std::size_t kMaxSwitchPayload = 16;
inline constexpr std::size_t kMaxSwitchRequest = 1 + 2 * (1 + kMaxSwitchPayload + 1) + 2;

// Modbus CRC-16: polynomial 0xA001 (0x8005 reflected), initial 0xFFFF, sent low byte first.
[[nodiscard]] std::uint16_t modbusCrc(std::span<const std::uint8_t> bytes);
// Modbus ASCII LRC: the two's complement of the byte sum, so that all bytes with it sum to 0.
[[nodiscard]] std::uint8_t modbusLrc(std::span<const std::uint8_t> bytes);

// Frames [address][payload] in the mode's framing into `out`; returns the number of bytes
// written, or 0 for the native mode, a payload longer than kMaxSwitchPayload, or too small a
// buffer.
//   1 Modbus RTU:   address, payload, CRC low byte, CRC high byte
//   2 Modbus ASCII: ':', address and payload as upper-case hex, LRC as hex, CR, LF
//   3 '%' command:  '%', address as two upper-case hex digits, payload as it is, the sum of all
//                   those characters modulo 256 as two upper-case hex digits, CR
[[nodiscard]] std::size_t buildSwitchRequest(ProtocolMode mode, std::uint8_t address,
                                             std::span<const std::uint8_t> payload, std::span<std::uint8_t> out);

// A foreign answer after its framing is checked: byte 0 is the address it came from, the rest
// are the bytes after the address (checksum removed).
inline constexpr std::size_t kMaxSwitchResponse = 64;
struct SwitchResponse {
  int result = kLinkWrongAnswer;  // kLinkOk, kLinkBadChecksum or kLinkWrongAnswer
  std::array<std::uint8_t, kMaxSwitchResponse> bytes{};
  std::size_t length = 0;

  [[nodiscard]] std::span<const std::uint8_t> all() const { return {bytes.data(), length}; }
};

// Checks the framing and checksum of a received answer:
//   1 Modbus RTU:   at least address and CRC, CRC correct (4 when not);
//   2 Modbus ASCII: ':', hex pairs, trailing CR/LF, LRC correct (4 when not);
//   3 '%' command:  trailing CR, the sum of all characters before the last two equal to those
//                   two hex digits (4 when not), then '!' and two hex digits of the address.
// Anything malformed gives kLinkWrongAnswer.
[[nodiscard]] SwitchResponse checkSwitchResponse(ProtocolMode mode, std::span<const std::uint8_t> received);

// The whole acceptance of a switch answer: the mode's checker, then the address (5 when it is
// another), and for both Modbus framings an exact echo of the payload after the address (6 when
// not). Returns kLinkOk when the module took the command.
[[nodiscard]] int checkSwitchAnswer(ProtocolMode mode, std::uint8_t address, std::span<const std::uint8_t> payload,
                                    std::span<const std::uint8_t> received);

}  // namespace kvtr
