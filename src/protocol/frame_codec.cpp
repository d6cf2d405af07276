#include "protocol/frame_codec.h"

#include <algorithm>

namespace kvtr {

namespace {

constexpr std::uint16_t kCrcPolynomial = 0x8F57;

// One CRC step per bit, most significant bit of `value` first: when the incoming bit differs
// from bit 15 of the register, shift and XOR the polynomial, else only shift.
constexpr std::uint16_t crcBits(std::uint16_t reg, unsigned value, int bitCount) {
  for (int bit = bitCount - 1; bit >= 0; --bit) {
    const unsigned in = (value >> bit) & 1u;
    const unsigned top = (reg >> 15) & 1u;
    reg = static_cast<std::uint16_t>(in != top ? (reg << 1) ^ kCrcPolynomial : reg << 1);
  }
  return reg;
}

// The 7-bit code of a name character without its point flag; -1 for characters the hash skips.
constexpr int nameCharCode(char c) {
  if (c >= 'A' && c <= 'Z') return (c - 55) * 2;  // 'A' = index 10 -> code 20
  if (c >= 'a' && c <= 'z') return (c - 32 - 55) * 2;
  if (c >= '0' && c <= '9') return (c - 48) * 2;
  switch (c) {
    case ' ': return 78;
    case '_': return 74;
    case '-': return 72;
    default: return -1;
  }
}

constexpr bool isUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

constexpr int tetradValue(char c) { return c >= 'G' && c <= 'V' ? c - 'G' : -1; }

}  // namespace

std::uint16_t hashName(std::string_view name) {
  if (name.empty()) return 0;

  // Four code slots start as the filler (blank, 78); a fifth slot takes a fifth character
  // that the hash then ignores, so "ABCDE" hashes like "ABCD".
  std::array<int, 5> slots{78, 78, 78, 78, 78};
  std::size_t counter = 0;
  int characters = 0;
  for (std::size_t i = 0; i < name.size() && counter <= 4; ++i) {
    const char c = name[i];
    // Only the first 8 characters count. The names are UTF-8 here, so a character is a lead
    // byte with its continuation bytes; none of those is in the name alphabet anyway.
    if (!isUtf8Continuation(c) && ++characters > 8) break;
    if (c == '.') {
      // A point sets the flag of the character before it. A point with no character before it
      // (first position, or after skipped characters only) has no slot to mark and is skipped.
      if (i > 0 && counter > 0) ++slots[counter - 1];
      continue;
    }
    const int code = nameCharCode(c);
    if (code < 0) continue;
    slots[counter++] = code;
  }

  // Each code travels as 7 bits, most significant first.
  std::uint16_t reg = 0;
  for (std::size_t slot = 0; slot < 4; ++slot) reg = crcBits(reg, static_cast<unsigned>(slots[slot]), 7);
  return reg;
}

void encodeTetrads(std::span<const std::uint8_t> bytes, std::span<char> out) {
  std::size_t pos = 0;
  for (const std::uint8_t b : bytes) {
    out[pos++] = static_cast<char>('G' + (b >> 4));
    out[pos++] = static_cast<char>('G' + (b & 0x0F));
  }
}

bool decodeTetrads(std::span<const char> chars, std::span<std::uint8_t> out) {
  bool valid = true;
  const std::size_t count = chars.size() / 2;
  for (std::size_t i = 0; i < count; ++i) {
    const int high = tetradValue(chars[2 * i]);
    const int low = tetradValue(chars[2 * i + 1]);
    valid = valid && high >= 0 && low >= 0;
    out[i] = static_cast<std::uint8_t>((std::max(high, 0) << 4) | std::max(low, 0));
  }
  return valid;
}

std::uint16_t frameCrc(std::span<const std::uint8_t> bytes, std::uint16_t initial) {
  std::uint16_t reg = initial;
  for (const std::uint8_t b : bytes) reg = crcBits(reg, b, 8);
  return reg;
}

int frameAddress(int baseAddress, int addressOffset) {
  return addressOffset == -1 ? 255 : baseAddress + addressOffset;
}

std::size_t buildRequest(bool read, std::uint16_t hash, std::span<const std::uint8_t> data, int address,
                         int addressBits, std::span<char> out) {
  const std::size_t n = data.size();
  const std::size_t lineLength = 2 * (n + kFrameOverhead) + 2;
  if (n > kMaxFrameData || out.size() < lineLength) return 0;

  std::array<std::uint8_t, kMaxFrameBytes> frame{};
  const unsigned addr = static_cast<unsigned>(address);
  unsigned highAddressBits = 0;
  if (addressBits > 8) {
    frame[0] = static_cast<std::uint8_t>((addr >> 3) & 0xFF);
    highAddressBits = addr & 7u;
  } else {
    frame[0] = static_cast<std::uint8_t>(addr & 0xFF);
  }
  frame[1] = static_cast<std::uint8_t>((highAddressBits << 5) | (read ? 0x10u : 0u) | (n & 0x0F));
  frame[2] = static_cast<std::uint8_t>(hash >> 8);
  frame[3] = static_cast<std::uint8_t>(hash & 0xFF);
  std::copy(data.begin(), data.end(), frame.begin() + 4);
  const std::uint16_t crc = frameCrc(std::span<const std::uint8_t>(frame.data(), 4 + n));
  frame[4 + n] = static_cast<std::uint8_t>(crc >> 8);
  frame[5 + n] = static_cast<std::uint8_t>(crc & 0xFF);

  out[0] = kFrameStart;
  encodeTetrads(std::span<const std::uint8_t>(frame.data(), n + kFrameOverhead), out.subspan(1));
  out[lineLength - 1] = kFrameEnd;
  return lineLength;
}

RequestLine buildRequest(bool read, std::uint16_t hash, std::span<const std::uint8_t> data, int address,
                         int addressBits) {
  RequestLine line;
  line.length = buildRequest(read, hash, data, address, addressBits, line.chars);
  return line;
}

ParsedResponse parseResponse(std::string_view received, std::uint16_t requestHash) {
  ParsedResponse result;
  if (received.size() < 2 || received[0] != kFrameStart) {
    result.status = ResponseStatus::LostFrameStart;
    return result;
  }

  result.status = ResponseStatus::CrcError;
  // Everything between the '#' and the last received character (the carriage return) is
  // tetrads; an odd character count is rounded down. The length nibble says where the stored
  // CRC lies, while the computed CRC covers every decoded byte but the last two: a nibble that
  // disagrees with what arrived therefore fails the check (barring a coincidence of 1 in 65536,
  // as on the line). The bytes are decoded on the fly so that a line of any length needs no
  // more than one frame's worth of storage.
  const std::string_view tetrads = received.substr(1, received.size() - 2);
  const std::size_t byteCount = tetrads.size() / 2;
  if (byteCount < kFrameOverhead) return result;

  std::array<std::uint8_t, kMaxFrameBytes> frame{};
  std::uint16_t computed = 0;
  std::uint8_t previous[2] = {0, 0};  // the last two bytes decoded so far
  for (std::size_t i = 0; i < byteCount; ++i) {
    std::uint8_t byte = 0;
    // A character outside 'G'..'V' cannot come from a module: the frame is rejected rather
    // than decoded with missing bits.
    if (!decodeTetrads(tetrads.substr(2 * i, 2), std::span<std::uint8_t>(&byte, 1))) return result;
    if (i < frame.size()) frame[i] = byte;
    if (i >= 2) computed = frameCrc(std::span<const std::uint8_t>(&previous[0], 1), computed);
    previous[0] = previous[1];
    previous[1] = byte;
  }
  const std::size_t n = frame[1] & 0x0F;
  if (5 + n >= byteCount) return result;  // the stored CRC would lie past what arrived
  const auto stored = static_cast<std::uint16_t>((frame[4 + n] << 8) | frame[5 + n]);
  if (computed != stored) return result;

  result.address = frame[0];
  result.control = frame[1];
  result.hash = static_cast<std::uint16_t>((frame[2] << 8) | frame[3]);
  result.length = static_cast<std::uint8_t>(n);
  std::copy_n(frame.begin() + 4, n, result.bytes.begin());
  if (result.hash == requestHash) {
    result.status = ResponseStatus::Ok;
  } else if (result.hash == kErrorReplyHash) {
    result.status = ResponseStatus::DeviceError;
  } else {
    result.status = ResponseStatus::OtherHash;
  }
  return result;
}

std::string_view responseMessage(ResponseStatus status) {
  switch (status) {
    case ResponseStatus::LostFrameStart: return "Потеря начала посылки.";
    case ResponseStatus::CrcError: return "Ошибка в контрольной сумме ответа";
    case ResponseStatus::OtherHash: return "Пришла посылка с кодом команды, отличным от посланной и от n.Err.\n";
    case ResponseStatus::Ok:
    case ResponseStatus::DeviceError: break;
  }
  return {};
}

}  // namespace kvtr
