// A TCP connection to a gateway, non-blocking, with every wait watching the port's stop event
// beside the socket (as the serial port's waits do). One file per operating system:
// tcp_socket_posix.cpp, tcp_socket_win32.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "common/clock.h"
#include "common/event.h"
#include "protocol/serial_line.h"

namespace kvtr {

class TcpSocket {
 public:
  enum class Connect { Connected, NotResolved, Failed, TimedOut, Stopped };

  TcpSocket();
  ~TcpSocket();
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Connects to the first address of `host` that takes the connection. `systemError` receives
  // the system's error code of a failure.
  Connect connect(const std::string& host, std::uint16_t port, Clock::Duration timeout, const Event& stop,
                  int& systemError);
  void close();
  [[nodiscard]] bool isOpen() const { return handle_.load() != kNoSocket; }

  using Wait = SerialLineIo::Wait;
  // Ready, Stopped (the event is set), TimedOut, or Failed (the connection is broken).
  Wait waitReadable(Clock::Duration timeout, const Event& stop);
  Wait waitWritable(Clock::Duration timeout, const Event& stop);
  // Bytes read or sent; 0 when none can be now; negative when the connection is closed or broken.
  long read(std::span<std::uint8_t> into);
  long write(std::span<const std::uint8_t> bytes);

 private:
  static constexpr std::intptr_t kNoSocket = -1;
  Wait waitFor(bool readable, Clock::Duration timeout, const Event& stop);

  std::atomic<std::intptr_t> handle_{kNoSocket};
  // Windows: the event that the socket's network events set. Unused on POSIX.
  std::intptr_t networkEvent_ = 0;
};

}  // namespace kvtr
