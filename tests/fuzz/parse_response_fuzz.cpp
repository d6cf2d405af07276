// Received characters from the line through the response checks. The first two input bytes
// are the request hash, the rest is what arrived. Besides not crashing, a frame that checks must
// begin with the encoding of what the parser reports ('#', the tetrads of address, control, hash
// and data), and when its length nibble accounts for every character received it must be exactly
// that frame with its CRC and one terminating character.
#include "protocol/frame_codec.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const auto requestHash = static_cast<std::uint16_t>((data[0] << 8) | data[1]);
  const std::string_view received(reinterpret_cast<const char*>(data + 2), size - 2);
  const kvtr::ParsedResponse r = kvtr::parseResponse(received, requestHash);

  if (r.status == kvtr::ResponseStatus::LostFrameStart || r.status == kvtr::ResponseStatus::CrcError) return 0;
  if (r.length > kvtr::kMaxFrameData) std::abort();
  if ((r.status == kvtr::ResponseStatus::Ok) != (r.hash == requestHash)) std::abort();
  if (r.status == kvtr::ResponseStatus::DeviceError && r.hash != kvtr::kErrorReplyHash) std::abort();

  std::array<std::uint8_t, kvtr::kMaxFrameBytes> frame{};
  frame[0] = r.address;
  frame[1] = r.control;
  frame[2] = static_cast<std::uint8_t>(r.hash >> 8);
  frame[3] = static_cast<std::uint8_t>(r.hash & 0xFF);
  for (std::size_t i = 0; i < r.length; ++i) frame[4 + i] = r.bytes[i];
  const std::uint16_t crc = kvtr::frameCrc(std::span<const std::uint8_t>(frame.data(), 4 + r.length));
  frame[4 + r.length] = static_cast<std::uint8_t>(crc >> 8);
  frame[5 + r.length] = static_cast<std::uint8_t>(crc & 0xFF);
  const std::size_t byteCount = r.length + kvtr::kFrameOverhead;

  std::array<char, kvtr::kMaxFrameChars> line{};
  line[0] = kvtr::kFrameStart;
  kvtr::encodeTetrads(std::span<const std::uint8_t>(frame.data(), byteCount), std::span<char>(line).subspan(1));
  const std::string_view canonical(line.data(), 1 + 2 * byteCount);
  const std::string_view fields = canonical.substr(0, canonical.size() - 4);
  if (received.substr(0, fields.size()) != fields) std::abort();
  if ((received.size() - 2) / 2 == byteCount && received.substr(0, canonical.size()) != canonical) std::abort();
  return 0;
}
