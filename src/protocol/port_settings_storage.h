// The program's stored port settings as the link sees them. The link loads its port-settings
// node from them when it is built and saves the node back when it goes; where they are kept (the
// registry on Windows, the settings file on POSIX, memory in tests) is for the application layer
// to say, by implementing PortSettingsStorage.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kvtr {

// The port settings as stored, with the program's defaults for anything missing.
struct StoredPortSettings {
  std::uint32_t address = 16;
  std::uint32_t addressLength = 8;
  std::uint32_t baudRate = 9600;
  std::uint32_t byteSize = 8;
  std::uint32_t stopBits = 1;
  std::uint32_t parityScheme = 3;  // 1 even, 3 none, 4 odd
  std::uint32_t portNumber = 1;    // COMn
  std::string portName;            // a port that is not COMn; wins over portNumber when set
  std::string comPortMap;          // "COM3=/dev/ttyUSB0;..."

  // "COMn", or the stored name when there is one.
  [[nodiscard]] std::string port() const;
  // Keeps a COM port in portNumber (and empties portName), any other port in portName.
  void setPort(std::string_view port);
};

class PortSettingsStorage {
 public:
  virtual ~PortSettingsStorage() = default;
  [[nodiscard]] virtual StoredPortSettings LoadPortSettings() const = 0;
  // False when nothing could be stored.
  virtual bool SavePortSettings(const StoredPortSettings& settings) = 0;
};

}  // namespace kvtr
