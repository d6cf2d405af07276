#include "protocol/port_settings_storage.h"

#include "common/strings.h"

namespace kvtr {

std::string StoredPortSettings::port() const {
  if (!portName.empty()) return portName;
  return "COM" + std::to_string(portNumber);
}

void StoredPortSettings::setPort(std::string_view port) {
  // "COMn" with n from 1 to 256, any case, as the serial port reads it.
  if (port.size() > 3 && startsWithNoCase(port, "COM")) {
    if (auto n = parseWholeUnsigned(port.substr(3)); n && *n >= 1 && *n <= 256) {
      portNumber = *n;
      portName.clear();
      return;
    }
  }
  portName = std::string(port);
}

}  // namespace kvtr
