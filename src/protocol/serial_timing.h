// Line timing derived from the settings: the time of one character and every time-out of an
// exchange. The character time is held as a float of milliseconds, as the port has always held
// it; the roundings below work on that float so that the time-outs come out the same everywhere.
#pragma once

#include <cstdint>

#include "protocol/serial_settings.h"

namespace kvtr {

// One character on the line: start bit, data bits, the parity bit when parity is checked, and
// the stop bits, in milliseconds.
float characterTimeMs(int baudRate, int dataBits, bool parityBit, int stopBits);
float characterTimeMs(const SerialSettings& settings);

// The five values of the system's time-out record, in milliseconds.
struct SerialTimeouts {
  std::uint32_t readInterval = 0;
  std::uint32_t readTotalMultiplier = 0;
  std::uint32_t readTotalConstant = 0;
  std::uint32_t writeTotalMultiplier = 0;
  std::uint32_t writeTotalConstant = 0;
};

SerialTimeouts computeTimeouts(float characterTimeMs);

// The wait for the first sign of an answer after the request has gone out.
std::uint16_t replyTimeoutMs(const SerialTimeouts& timeouts);

// 3.5 character times of silence end a Modbus RTU answer.
int rtuSilenceMs(float characterTimeMs);

// The longest a request of `count` characters may take to leave: the write time-out.
int writeTimeoutMs(const SerialTimeouts& timeouts, int count);

// Waits `milliseconds`, at least and not much more: the per-byte gap of the semi-automatic
// converter (about 1 ms at 9600 baud). A sleep alone may overrun it, so the end of the wait
// watches the high-resolution steady clock; a long gap is mostly slept.
void busyWait(float milliseconds);

}  // namespace kvtr
