#include "protocol/protocol_switch.h"

#include <algorithm>

namespace kvtr {

namespace {

constexpr std::uint8_t kModbusSwitchPayload[] = {0x05, 0xF0, 0xF0, 0xFF, 0x00};
constexpr std::uint8_t kPercentSwitchPayload[] = {'D', 'O', 'R', 'V'};
constexpr char kHexDigits[] = "0123456789ABCDEF";

int hexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Two hex digits as a byte; -1 when either is not a hex digit.
int hexPair(std::uint8_t high, std::uint8_t low) {
  const int h = hexValue(high);
  const int l = hexValue(low);
  return h < 0 || l < 0 ? -1 : (h << 4) | l;
}

void putHex(std::uint8_t byte, std::uint8_t*& out) {
  *out++ = static_cast<std::uint8_t>(kHexDigits[byte >> 4]);
  *out++ = static_cast<std::uint8_t>(kHexDigits[byte & 0x0F]);
}

// Drops the line ends that close an ASCII answer: a CR, optionally followed by an LF.
std::span<const std::uint8_t> withoutLineEnd(std::span<const std::uint8_t> text) {
  if (!text.empty() && text.back() == '\n') text = text.first(text.size() - 1);
  if (!text.empty() && text.back() == '\r') text = text.first(text.size() - 1);
  return text;
}

SwitchResponse checkRtu(std::span<const std::uint8_t> received) {
  SwitchResponse response;
  // Address and the two CRC bytes at the least.
  if (received.size() < 3 || received.size() - 2 > kMaxSwitchResponse) return response;
  const std::span<const std::uint8_t> body = received.first(received.size() - 2);
  const std::uint16_t crc = modbusCrc(body);
  // The low order byte of the CRC comes first.
  if (received[received.size() - 2] != (crc & 0xFF) || received[received.size() - 1] != (crc >> 8)) {
    response.result = kLinkBadChecksum;
    return response;
  }
  std::copy(body.begin(), body.end(), response.bytes.begin());
  response.length = body.size();
  response.result = kLinkOk;
  return response;
}

SwitchResponse checkAscii(std::span<const std::uint8_t> received) {
  SwitchResponse response;
  const std::span<const std::uint8_t> text = withoutLineEnd(received);
  // ':' then at least the address and the LRC, two digits each.
  if (text.size() < 5 || text[0] != ':' || (text.size() - 1) % 2 != 0) return response;
  const std::size_t count = (text.size() - 1) / 2;
  if (count - 1 > kMaxSwitchResponse) return response;
  std::array<std::uint8_t, kMaxSwitchResponse + 1> bytes{};
  for (std::size_t i = 0; i < count; ++i) {
    const int value = hexPair(text[1 + 2 * i], text[2 + 2 * i]);
    if (value < 0) return response;
    bytes[i] = static_cast<std::uint8_t>(value);
  }
  unsigned sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
  if ((sum & 0xFF) != 0) {
    response.result = kLinkBadChecksum;
    return response;
  }
  std::copy_n(bytes.begin(), count - 1, response.bytes.begin());
  response.length = count - 1;
  response.result = kLinkOk;
  return response;
}

SwitchResponse checkPercent(std::span<const std::uint8_t> received) {
  SwitchResponse response;
  const std::span<const std::uint8_t> text = withoutLineEnd(received);
  // '!', two address digits, two sum digits at the least.
  if (text.size() < 5 || text.size() - 4 > kMaxSwitchResponse) return response;
  const std::size_t summed = text.size() - 2;
  const int stored = hexPair(text[summed], text[summed + 1]);
  if (stored < 0) return response;
  unsigned sum = 0;
  for (std::size_t i = 0; i < summed; ++i) sum += text[i];
  if ((sum & 0xFF) != static_cast<unsigned>(stored)) {
    response.result = kLinkBadChecksum;
    return response;
  }
  const int address = hexPair(text[1], text[2]);
  if (text[0] != '!' || address < 0) return response;
  response.bytes[0] = static_cast<std::uint8_t>(address);
  std::copy(text.begin() + 3, text.begin() + static_cast<std::ptrdiff_t>(summed), response.bytes.begin() + 1);
  response.length = summed - 2;
  response.result = kLinkOk;
  return response;
}

}  // namespace

std::string_view linkErrorText(int result) {
  switch (result) {
    case kLinkTimeout: return "Таймаут при передаче данных (нет связи)";
    case kLinkLineErrors: return "Ошибки на линии связи";
    case kLinkBadChecksum: return "Ошибка в контрольной сумме";
    case kLinkWrongAddress: return "Адрес устройства в запросе не соответствует адресу в ответе.";
    case kLinkWrongAnswer: return "Некорректный ответ";
    default: return {};
  }
}

std::span<const std::uint8_t> protocolSwitchPayload(ProtocolMode mode) {
  switch (mode) {
    case ProtocolMode::ModbusRtu:
    case ProtocolMode::ModbusAscii: return kModbusSwitchPayload;
    case ProtocolMode::PercentCommand: return kPercentSwitchPayload;
    case ProtocolMode::Native: break;
  }
  return {};
}

std::uint16_t modbusCrc(std::span<const std::uint8_t> bytes) {
  std::uint16_t reg = 0xFFFF;
  for (const std::uint8_t b : bytes) {
    reg ^= b;
    for (int bit = 0; bit < 8; ++bit) reg = (reg & 1u) ? static_cast<std::uint16_t>((reg >> 1) ^ 0xA001) : reg >> 1;
  }
  return reg;
}

std::uint8_t modbusLrc(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (const std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

std::size_t buildSwitchRequest(ProtocolMode mode, std::uint8_t address, std::span<const std::uint8_t> payload,
                               std::span<std::uint8_t> out) {
  if (payload.size() > kMaxSwitchPayload) return 0;
  std::array<std::uint8_t, kMaxSwitchRequest> frame{};
  std::uint8_t* p = frame.data();
  switch (mode) {
    case ProtocolMode::ModbusRtu: {
      *p++ = address;
      p = std::copy(payload.begin(), payload.end(), p);
      const std::uint16_t crc = modbusCrc(std::span<const std::uint8_t>(frame.data(), p));
      *p++ = static_cast<std::uint8_t>(crc & 0xFF);
      *p++ = static_cast<std::uint8_t>(crc >> 8);
      break;
    }
    case ProtocolMode::ModbusAscii: {
      std::array<std::uint8_t, 1 + kMaxSwitchPayload> binary{};
      binary[0] = address;
      std::copy(payload.begin(), payload.end(), binary.begin() + 1);
      const std::span<const std::uint8_t> body(binary.data(), 1 + payload.size());
      *p++ = ':';
      for (const std::uint8_t b : body) putHex(b, p);
      putHex(modbusLrc(body), p);
      *p++ = '\r';
      *p++ = '\n';
      break;
    }
    case ProtocolMode::PercentCommand: {
      *p++ = '%';
      putHex(address, p);
      p = std::copy(payload.begin(), payload.end(), p);
      unsigned sum = 0;
      for (const std::uint8_t* c = frame.data(); c != p; ++c) sum += *c;
      putHex(static_cast<std::uint8_t>(sum & 0xFF), p);
      *p++ = '\r';
      break;
    }
    case ProtocolMode::Native: return 0;
  }
  const auto length = static_cast<std::size_t>(p - frame.data());
  if (out.size() < length) return 0;
  std::copy_n(frame.begin(), length, out.begin());
  return length;
}

SwitchResponse checkSwitchResponse(ProtocolMode mode, std::span<const std::uint8_t> received) {
  switch (mode) {
    case ProtocolMode::ModbusRtu: return checkRtu(received);
    case ProtocolMode::ModbusAscii: return checkAscii(received);
    case ProtocolMode::PercentCommand: return checkPercent(received);
    case ProtocolMode::Native: break;
  }
  return {};
}

int checkSwitchAnswer(ProtocolMode mode, std::uint8_t address, std::span<const std::uint8_t> payload,
                      std::span<const std::uint8_t> received) {
  const SwitchResponse response = checkSwitchResponse(mode, received);
  if (response.result != kLinkOk) return response.result;
  if (response.length == 0) return kLinkWrongAnswer;
  if (response.bytes[0] != address) return kLinkWrongAddress;
  if (mode == ProtocolMode::ModbusRtu || mode == ProtocolMode::ModbusAscii) {
    const std::span<const std::uint8_t> echo = response.all().subspan(1);
    if (!std::equal(echo.begin(), echo.end(), payload.begin(), payload.end())) return kLinkWrongAnswer;
  }
  return kLinkOk;
}

}  // namespace kvtr
