// One exchange on the line, written over the handful of system calls it needs. The POSIX port
// runs it over its descriptor; tests run it over a scripted line, which feeds bytes, marked line
// errors, silences and failures that a pseudo-terminal cannot produce.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "common/clock.h"
#include "protocol/answer_filter.h"
#include "protocol/serial_results.h"
#include "protocol/serial_timing.h"

namespace kvtr {

class SerialLineIo {
 public:
  enum class Wait { Ready, Stopped, TimedOut, Failed };

  virtual ~SerialLineIo() = default;

  // Drops whatever waits in both directions.
  virtual void purge() = 0;
  // The stop event is set.
  virtual bool stopRequested() = 0;
  // Each wait ends early when the stop event is set (Stopped) or the port fails (Failed).
  virtual Wait waitReadable(Clock::Duration timeout) = 0;
  virtual Wait waitWritable(Clock::Duration timeout) = 0;
  // Waits until everything written has left the port.
  virtual Wait drain(Clock::Duration timeout) = 0;
  // Bytes read or accepted; 0 when none are ready now; negative when the port has failed.
  virtual long read(std::span<std::uint8_t> into) = 0;
  virtual long write(std::span<const std::uint8_t> bytes) = 0;
  virtual void setRts(bool raised) = 0;
  // Holds the line for `milliseconds` after a byte of the semi-automatic converter.
  virtual void characterGap(float milliseconds) = 0;
  // A running count of the line errors the driver has counted (overruns among them); a port
  // that counts nothing returns 0 always.
  virtual std::uint64_t lineErrorCount() = 0;
};

// The driver marks a byte received with a parity or framing error as 0xFF 0x00 byte, a break as
// 0xFF 0x00 0x00, and doubles a real 0xFF. This undoes the marking, one byte at a time, so that a
// mark split between two reads is still recognised.
class MarkedInputDecoder {
 public:
  enum class Kind { Character, LineError };
  struct Item {
    Kind kind;
    std::uint8_t value;
  };

  // The item that `byte` completes, if any.
  std::optional<Item> feed(std::uint8_t byte);

 private:
  int pending_ = 0;  // bytes of a mark seen so far
};

struct LineExchangeSetup {
  float characterTimeMs = 0;
  SerialTimeouts timeouts;
  bool automaticConverter = false;
  int protocolMode = 0;
  // Native answers: each line is offered to the filter, and one it turns down is dropped while
  // the reply time-out runs on. None: the first line is the answer.
  AnswerFilter* filter = nullptr;
  // Added to the reply time-out and to the silence that ends a Modbus RTU answer: the time a
  // network gateway adds (network_port_name.h). 0 on a serial port.
  int replyAllowanceMs = 0;
  int silenceAllowanceMs = 0;
};

struct LineExchangeResult {
  int result = serial::kAborted;
  int received = 0;
  // The port failed under the exchange (unplugged, or the other end of a pseudo-terminal closed).
  bool portFailed = false;
};

// Purges, sends `request` as the converter needs it and reads the answer into `response`:
// up to the carriage return (of a line the filter accepts), or in Modbus RTU mode up to 3.5
// character times of silence, never more than response.size() characters. An empty request
// sends nothing: the exchange then only listens for one reply time-out, dropping whatever the
// filter turns down (the way late answers are waited out before the next request).
LineExchangeResult exchangeOverLine(SerialLineIo& line, const Clock& clock, const LineExchangeSetup& setup,
                                    std::span<const std::uint8_t> request, std::span<char> response);

}  // namespace kvtr
