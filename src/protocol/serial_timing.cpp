#include "protocol/serial_timing.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace kvtr {

float characterTimeMs(int baudRate, int dataBits, bool parityBit, int stopBits) {
  if (baudRate <= 0) return 0.0f;
  // Start bit and one stop bit are the "+ 2"; a second stop bit adds one more.
  const int bits = dataBits + (parityBit ? 1 : 0) + 2 + (stopBits == 2 ? 1 : 0);
  return static_cast<float>(bits) * 1000.0f / static_cast<float>(baudRate);
}

float characterTimeMs(const SerialSettings& settings) {
  const auto parity = parityFromCode(settings.parityCode);
  const bool parityBit = parity && *parity != Parity::None;
  return characterTimeMs(settings.baudRate, settings.dataBits, parityBit, settings.stopBits);
}

SerialTimeouts computeTimeouts(float characterTimeMs) {
  SerialTimeouts t;
  // Products are taken in double from the float character time, then rounded up.
  t.readInterval = static_cast<std::uint32_t>(std::ceil(static_cast<double>(characterTimeMs) * 1.5));
  t.readTotalMultiplier =
      static_cast<std::uint32_t>(std::ceil(t.readInterval + static_cast<double>(characterTimeMs)));
  t.readTotalConstant = 50;
  t.writeTotalMultiplier = 10;
  t.writeTotalConstant = 500;
  return t;
}

std::uint16_t replyTimeoutMs(const SerialTimeouts& timeouts) {
  // Kept in 16 bits; the slowest format (110 baud, 8 data bits, parity, 2 stop bits: 12 bits,
  // 109.09 ms a character) gives ceil(163.6) = 164, ceil(164 + 109.09) = 274, 274 * 30 + 50 = 8270.
  return static_cast<std::uint16_t>(timeouts.readTotalMultiplier * 30 + 50);
}

int rtuSilenceMs(float characterTimeMs) {
  return static_cast<int>(std::ceil(static_cast<double>(characterTimeMs) * 3.5));
}

int writeTimeoutMs(const SerialTimeouts& timeouts, int count) {
  return static_cast<int>(timeouts.writeTotalConstant + timeouts.writeTotalMultiplier * static_cast<std::uint32_t>(count));
}

void busyWait(float milliseconds) {
  const auto start = std::chrono::steady_clock::now();
  const auto span = std::chrono::duration<double, std::milli>(milliseconds);
  // A gap of a character time follows every byte that a semi-automatic converter sends: spinning
  // through all of it kept a core a third busy while the inputs and outputs were polled. The
  // thread sleeps through most of a long gap and spins only through the last part, which a sleep
  // could overrun.
  constexpr std::chrono::duration<double, std::milli> kSpinTail{0.25};
  if (span > 2 * kSpinTail) {
    std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::microseconds>(span - kSpinTail));
  }
  while (std::chrono::steady_clock::now() - start < span) {
  }
}

}  // namespace kvtr
