// Foreign answers to the protocol-switch command through their checkers. The first input byte
// picks the protocol mode, the second is the device address, the rest is what arrived.
#include "protocol/protocol_switch.h"

#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const auto mode = static_cast<kvtr::ProtocolMode>(data[0] & 3);
  const std::uint8_t address = data[1];
  const std::span<const std::uint8_t> received(data + 2, size - 2);

  const kvtr::SwitchResponse response = kvtr::checkSwitchResponse(mode, received);
  if (response.length > kvtr::kMaxSwitchResponse) std::abort();
  if (response.result != kvtr::kLinkOk && response.result != kvtr::kLinkBadChecksum &&
      response.result != kvtr::kLinkWrongAnswer) {
    std::abort();
  }
  const int result = kvtr::checkSwitchAnswer(mode, address, kvtr::protocolSwitchPayload(mode), received);
  if (result != kvtr::kLinkOk && kvtr::linkErrorText(result).empty()) std::abort();
  return 0;
}
