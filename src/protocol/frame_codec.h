// The device protocol's frame codec: the parameter-name hash, tetrad encoding, the frame CRC,
// request building and the checks applied to a response. Everything here is a pure function over
// caller-provided buffers; nothing allocates, so the link can call it per frame while it holds
// the port lock.
//
// A frame is a binary record
//   [address][control][hash hi][hash lo][data 0..15][crc hi][crc lo]
// sent as printable characters: '#', two tetrad characters per byte ('G' + nibble, high nibble
// first), carriage return. n data bytes give 2n + 14 characters on the line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kvtr {

// The length field of the control byte has four bits.
inline constexpr std::size_t kMaxFrameData = 15;
// Address, control, two hash bytes, two CRC bytes.
inline constexpr std::size_t kFrameOverhead = 6;
inline constexpr std::size_t kMaxFrameBytes = kMaxFrameData + kFrameOverhead;  // 21
// '#', 2 x 21 tetrad characters, carriage return.
inline constexpr std::size_t kMaxFrameChars = 2 * kMaxFrameBytes + 2;  // 44
inline constexpr char kFrameStart = '#';
inline constexpr char kFrameEnd = '\r';

// Hashes the module knows by heart; each is hashName() of the name beside it.
inline constexpr std::uint16_t kErrorReplyHash = 0x0233;  // "n.Err": the module's error reply
inline constexpr std::uint16_t kApplyHash = 0x8403;       // "APLY"
inline constexpr std::uint16_t kInitHash = 0x00E9;        // "INIT"
inline constexpr std::uint16_t kAttributesHash = 0x5EA0;  // "M.s.t.r."
inline constexpr std::uint16_t kNameCharHash = 0x3628;    // "CHAr" (also "CHAr*")

// The 16-bit hash of a short parameter name ("r.oe", "A.Len", "M.s.t.r."). Up to four
// significant characters, each with an optional following '.', are turned into 7-bit codes and
// run through the frame CRC. Case does not matter, characters outside the name alphabet are
// skipped, and the empty name gives 0. The name is UTF-8; its first 8 characters are used.
[[nodiscard]] std::uint16_t hashName(std::string_view name);

// Writes 2 x bytes.size() characters into `out` (which must have room for them), high nibble
// first, nibble v as 'G' + v.
void encodeTetrads(std::span<const std::uint8_t> bytes, std::span<char> out);

// Writes chars.size() / 2 bytes into `out` (which must have room for them); an odd last
// character is ignored. A character outside 'G'..'V' contributes a zero nibble and makes the
// result false, so that a caller can refuse a corrupted frame instead of trusting its bits.
[[nodiscard]] bool decodeTetrads(std::span<const char> chars, std::span<std::uint8_t> out);

// CRC-16 of the device protocol: width 16, polynomial 0x8F57, initial value `initial` (the
// protocol always starts from 0), input and output not reflected, no final XOR. "abc" gives
// 0x4F8D.
[[nodiscard]] std::uint16_t frameCrc(std::span<const std::uint8_t> bytes, std::uint16_t initial = 0);

// The address a request goes to: the base address plus the parameter's address offset, except
// that an offset of -1 means address 255.
[[nodiscard]] int frameAddress(int baseAddress, int addressOffset);

// Builds the line image of a request, from '#' up to and including the carriage return, into
// `out`. `addressBits` above 8 selects 11-bit addressing (address bits 10..3 in byte 0, bits
// 2..0 in the top of the control byte); otherwise the low 8 bits of the address form byte 0.
// Returns the number of characters written: 2 x data.size() + 14. Returns 0 and writes nothing
// when there are more than 15 data bytes or `out` is too small (kMaxFrameChars always fits).
[[nodiscard]] std::size_t buildRequest(bool read, std::uint16_t hash, std::span<const std::uint8_t> data,
                                       int address, int addressBits, std::span<char> out);

// A request line in a fixed buffer, for callers that would rather not size one themselves.
struct RequestLine {
  std::array<char, kMaxFrameChars> chars{};
  std::size_t length = 0;  // 0 when the request could not be built

  [[nodiscard]] std::string_view text() const { return {chars.data(), length}; }
};
[[nodiscard]] RequestLine buildRequest(bool read, std::uint16_t hash, std::span<const std::uint8_t> data,
                                       int address, int addressBits);

// Outcome of the checks on a received response, in the order they are applied.
enum class ResponseStatus {
  Ok,              // the module answered the request; `data` holds its n bytes
  LostFrameStart,  // fewer than 2 characters, or the first is not '#'
  CrcError,        // the frame does not check (CRC, length or characters)
  DeviceError,     // a well-formed "n.Err" reply: the module refused the request
  OtherHash,       // a well-formed frame for another parameter
};

struct ParsedResponse {
  ResponseStatus status = ResponseStatus::LostFrameStart;
  std::uint8_t address = 0;  // byte 0 as received; not checked
  std::uint8_t control = 0;  // byte 1 as received; only its length nibble is used
  std::uint16_t hash = 0;
  std::uint8_t length = 0;   // n, the number of data bytes
  std::array<std::uint8_t, kMaxFrameData> bytes{};

  [[nodiscard]] bool ok() const { return status == ResponseStatus::Ok; }
  [[nodiscard]] std::span<const std::uint8_t> data() const { return {bytes.data(), length}; }
  // An error reply carries the module's error code in its first data byte; one without data
  // bytes carries none.
  [[nodiscard]] bool hasDeviceErrorCode() const { return status == ResponseStatus::DeviceError && length > 0; }
  // The code as the module sends it: a signed 8-bit number.
  [[nodiscard]] int deviceErrorCode() const { return static_cast<std::int8_t>(bytes[0]); }
};

// Applies the response checks to the received characters (the '#' through the terminating
// carriage return, which is the last character and is not looked at):
//   1. at least 2 characters and the first is '#', else LostFrameStart;
//   2. the characters between '#' and the last one are decoded from tetrads;
//   3. the frame must check: exactly 2 x (n + 6) tetrad characters for the n of the length
//      nibble, every one of them in 'G'..'V', and the CRC over all bytes but the last two equal
//      to those two bytes; else CrcError;
//   4. hash equal to `requestHash`: Ok; "n.Err": DeviceError; any other: OtherHash.
// The address byte and the request bit of a response are not checked.
[[nodiscard]] ParsedResponse parseResponse(std::string_view received, std::uint16_t requestHash);

// The text the link stores for a failed check: "Потеря начала посылки.", "Ошибка в контрольной
// сумме ответа", "Пришла посылка с кодом команды, отличным от посланной и от n.Err.\n". Ok and
// DeviceError have no text of their own (an error reply is turned into text from its code).
[[nodiscard]] std::string_view responseMessage(ResponseStatus status);

}  // namespace kvtr
