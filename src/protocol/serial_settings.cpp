#include "protocol/serial_settings.h"

#include <algorithm>

namespace kvtr {

std::optional<Parity> parityFromCode(int code) {
  switch (code) {
    case 0:
    case 3: return Parity::None;
    case 1: return Parity::Even;
    case 2: return Parity::Mark;
    case 4: return Parity::Odd;
    case 5: return Parity::Space;
    default: return std::nullopt;
  }
}

bool isAcceptedBaudRate(int baudRate) {
  return std::find(kAcceptedBaudRates.begin(), kAcceptedBaudRates.end(), baudRate) !=
         kAcceptedBaudRates.end();
}

int checkLineSettings(const SerialSettings& settings) {
  if (!parityFromCode(settings.parityCode)) return serial::kUnsupportedSetting;
  if (settings.dataBits < 5 || settings.dataBits > 8) return serial::kBadDataBits;
  if (settings.stopBits != 1 && settings.stopBits != 2) return serial::kUnsupportedSetting;
  if (!isAcceptedBaudRate(settings.baudRate)) return serial::kUnsupportedSetting;
  return serial::kOpened;
}

}  // namespace kvtr
