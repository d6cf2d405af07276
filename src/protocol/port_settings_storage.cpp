#include "protocol/port_settings_storage.h"

#include <charconv>

#include "common/strings.h"

namespace kvtr {

std::string StoredPortSettings::port() const {
  if (!portName.empty()) return portName;
  return "COM" + std::to_string(portNumber);
}

void StoredPortSettings::setPort(std::string_view port) {
  // "COMn" with n from 1 to 256, any case, as the serial port reads it.
  if (port.size() > 3 && startsWithNoCase(port, "COM")) {
    const std::string_view digits = port.substr(3);
    unsigned n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec == std::errc() && end == digits.data() + digits.size() && n >= 1 && n <= 256) {
      portNumber = n;
      portName.clear();
      return;
    }
  }
  portName = std::string(port);
}

}  // namespace kvtr
