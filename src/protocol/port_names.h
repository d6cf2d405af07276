// Port names and the list of serial ports.
//
// Settings and command lines written with Windows port names keep working: a name is turned into
// a device path by this rule, in order:
//   1. a name containing '/' is a device path and is used as it is;
//   2. "COMn" (any case, n from 1 to 256) is the device that the port map assigns to n, else
//      /dev/ttyS(n-1): COM1 is /dev/ttyS0, COM2 /dev/ttyS1, as the on-board ports are numbered;
//   3. any other name is a device under /dev: "ttyUSB0" is /dev/ttyUSB0.
// The port map gives the COM numbers of USB converters, e.g. "COM3=/dev/serial/by-id/usb-...".
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvtr {

// COM number -> device path.
using ComPortMap = std::map<int, std::string>;

// The number n of a name "COMn", or nothing.
std::optional<int> comPortNumber(std::string_view name);

std::string resolvePortPath(std::string_view name, const ComPortMap& map = {});

// Reads a port map written as "COM3=/dev/ttyUSB0;COM4=/dev/ttyUSB1" (';' or new lines between
// entries, blanks around them ignored). Entries that are not "COMn=path" are skipped.
ComPortMap parseComPortMap(std::string_view text);

struct SerialPortInfo {
  std::string devicePath;   // /dev/ttyUSB0
  std::string stablePath;   // its /dev/serial/by-id link, when there is one
  std::string description;  // maker and product, or the driver's name

  // The name the settings should keep: the stable link survives re-plugging.
  const std::string& preferredName() const { return stablePath.empty() ? devicePath : stablePath; }
};

// The serial ports under `root` ("/" on a running system): every /sys/class/tty device that has a
// driver, except legacy UART slots with no UART behind them (their "type" reads 0), with the
// /dev/serial/by-id links that point at them. Sorted by device name, numbers in numeric order.
std::vector<SerialPortInfo> enumerateSerialPorts(const std::filesystem::path& root = "/");

// The names of `ports` separated by ':'. A name that itself contains ':' could not be told apart
// in that text; such a port is listed by its device path.
std::string joinPortNames(const std::vector<SerialPortInfo>& ports);

}  // namespace kvtr
