#include "protocol/serial_port.h"

namespace kvtr {

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() {
  // Closed without the purge of close(): a port that cannot be purged is let go all the same.
  releaseHandle();
}

void SerialPort::computeTiming() {
  characterTimeMs_ = kvtr::characterTimeMs(settings_);
  timeouts_ = computeTimeouts(characterTimeMs_);
  replyTimeoutMs_ = kvtr::replyTimeoutMs(timeouts_);
}

}  // namespace kvtr
