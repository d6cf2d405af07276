// The line settings of the serial port and the rules that accept or refuse them. The numbers are
// the program's own: parity is a code (0 or 3 none, 1 even, 2 mark, 4 odd, 5 space) because the
// settings store and the port-settings node carry it that way.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/serial_results.h"

namespace kvtr {

struct SerialSettings {
  // 1: the RS-485 converter turns the line round by itself; 0: a semi-automatic converter whose
  // transmit direction the port drives with RTS.
  std::uint32_t automaticConverter = 0;
  // "COMn", a device name such as "ttyUSB0", or a device path (see port_names.h).
  std::string portName = "COM1";
  std::int32_t baudRate = 9600;
  std::int32_t parityCode = 3;
  std::int32_t stopBits = 1;
  std::int32_t dataBits = 8;
  // Kept with the line settings because every frame needs them.
  std::int32_t addressLength = 8;
  std::int32_t baseAddress = 16;
};

enum class Parity { None, Even, Odd, Mark, Space };

// The parity a code selects; nothing for a code the port refuses.
std::optional<Parity> parityFromCode(int code);

// Every speed the port accepts, in bits per second.
inline constexpr std::array<int, 15> kAcceptedBaudRates = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 56000, 57600, 115200, 128000};

bool isAcceptedBaudRate(int baudRate);

// Checks in the order the port applies them: parity code, data bits, stop bits, speed.
// Returns 0, -2 (parity, stop bits or speed refused) or -3 (data bits outside 5..8), the codes
// that SerialPort::open reports.
int checkLineSettings(const SerialSettings& settings);

}  // namespace kvtr
