// The serial port of the device link: one port, one exchange at a time. It opens the port with
// the line settings, derives the time-outs from them, sends a request (driving RTS for a
// semi-automatic converter) and collects the answer. Frames are the link's business; the port
// knows only that a native answer ends with a carriage return and a Modbus RTU answer with
// silence.
//
// open, close and exchange are called by one thread at a time (the link's port lock); the stop
// event may be set from any thread and ends a running exchange at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/event.h"
#include "protocol/answer_filter.h"
#include "protocol/port_names.h"
#include "protocol/serial_results.h"
#include "protocol/serial_settings.h"
#include "protocol/serial_timing.h"

namespace kvtr {

class NetworkPort;
struct NetworkPortName;

class SerialPort {
 public:
  SerialPort();
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // The settings take effect at the next open.
  SerialSettings& settings() { return settings_; }
  const SerialSettings& settings() const { return settings_; }
  void setSettings(const SerialSettings& settings) { settings_ = settings; }

  // Which device a "COMn" name stands for (see port_names.h).
  void setComPortMap(ComPortMap map) { comPortMap_ = std::move(map); }
  const ComPortMap& comPortMap() const { return comPortMap_; }

  // Opens and configures the port; an open port is closed first. A network port name
  // (network_port_name.h) connects to a gateway instead of opening a device. Results serial::kOpened,
  // kCannotOpen, kUnsupportedSetting, kBadDataBits, kCannotSetState, kCannotSetTimeouts. A port
  // that fails to configure is left closed. failure() then says why.
  [[nodiscard]] int open();

  // Why the port is not open (PortFailure::None after a successful open, and before any), and
  // the system's error code of PortFailure::Other.
  [[nodiscard]] serial::PortFailure failure() const { return failure_.load(); }
  [[nodiscard]] int failureCode() const { return failureCode_.load(); }

  // serial::kClosed, kNotOpen, or kPurgeFailed (the port stays open).
  int close();

  [[nodiscard]] bool isOpen() const;

  // One request and its answer. `response` receives at most serial::kResponseCapacity characters
  // and `received` their count. Protocol mode 1 (Modbus RTU) ends the answer after 3.5 character
  // times of silence, every other mode at the carriage return of a line `filter` accepts (the
  // first line without one). An empty request sends nothing and only listens.
  // Results: serial::kReceived, kAborted (not open, stopped, or the port vanished: then the port
  // is closed and failure() is PortFailure::Vanished), kTimedOut, kLineError.
  [[nodiscard]] int exchange(std::span<const std::uint8_t> request, std::span<char> response, int& received,
                             int protocolMode = 0, AnswerFilter* filter = nullptr);

  // Manual reset. While set, the running exchange and every later one end with kAborted.
  Event& stopEvent() { return stop_; }

  // As computed by the last successful open; a network port's reply time-out includes
  // kNetworkReplyAllowanceMs.
  float characterTimeMs() const { return characterTimeMs_; }
  const SerialTimeouts& timeouts() const { return timeouts_; }
  std::uint16_t replyTimeoutMs() const { return replyTimeoutMs_; }

  // The device the last open used (on Windows the port name).
  const std::string& devicePath() const { return devicePath_; }

  // The serial ports the system knows, with a description where it gives one.
  static std::vector<SerialPortInfo> availablePorts();
  // Their names separated by ':', the form of the port setting's choice list.
  static std::string listPorts();

 private:
  static constexpr std::intptr_t kNoHandle = -1;

  // The device side, one implementation file per operating system, and the network side.
  [[nodiscard]] int openDevice();
  int closeDevice();
  [[nodiscard]] int exchangeDevice(std::span<const std::uint8_t> request, std::span<char> response, int& received,
                                   int protocolMode, AnswerFilter* filter);
  [[nodiscard]] int openNetwork(const NetworkPortName& name);
  [[nodiscard]] int exchangeNetwork(std::span<const std::uint8_t> request, std::span<char> response, int& received,
                                    int protocolMode, AnswerFilter* filter);

  // Computes the character time and time-outs of the current settings.
  void computeTiming();
  // Closes the system handle without purging.
  void releaseHandle();
  // Records why the port is not open; returns `result`.
  int fail(int result, serial::PortFailure failure, int code = 0) {
    failure_.store(failure);
    failureCode_.store(code);
    return result;
  }

  SerialSettings settings_;
  ComPortMap comPortMap_;
  // A descriptor on POSIX, a HANDLE on Windows; -1 is INVALID_HANDLE_VALUE there.
  std::atomic<std::intptr_t> handle_{kNoHandle};
  Event stop_{EventReset::Manual};
  float characterTimeMs_ = 0;
  SerialTimeouts timeouts_{};
  std::uint16_t replyTimeoutMs_ = 0;
  std::string devicePath_;
  std::atomic<serial::PortFailure> failure_{serial::PortFailure::None};
  std::atomic<int> failureCode_{0};
  // The driver of the open port keeps no error counters (a pseudo-terminal, some USB converters):
  // learnt at the first exchange, so later ones do not ask again.
  std::atomic<bool> noErrorCounters_{false};
  const std::unique_ptr<NetworkPort> network_;
};

}  // namespace kvtr
