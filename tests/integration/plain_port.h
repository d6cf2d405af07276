// The simulated line opened the plain way, with termios alone: the tests of the simulator itself
// use it, so that they do not depend on the program's own serial port.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace kvtr::test {

class PlainPort {
 public:
  PlainPort() = default;
  ~PlainPort();
  PlainPort(const PlainPort&) = delete;
  PlainPort& operator=(const PlainPort&) = delete;

  // Opens the terminal raw at one of the classic speeds, with 1 or 2 stop bits and parity
  // 'N', 'E' or 'O'. False with the reason in `error`.
  bool Open(const std::string& path, int baud, int stopBits, char parity, std::string& error);
  // Changes the settings of the open terminal.
  bool Configure(int baud, int stopBits, char parity);

  void Write(std::string_view bytes);
  // Reads until `end` has arrived (included) or the time is up; returns what arrived.
  std::string ReadUntil(char end, std::chrono::milliseconds timeout);
  // Reads until `count` bytes have arrived or the time is up.
  std::string ReadBytes(std::size_t count, std::chrono::milliseconds timeout);
  // Throws away whatever has arrived and not been read.
  void Discard();
  // Sends a request and returns the answer up to its carriage return, or what arrived until the
  // time-out (empty when nothing did).
  std::string Transact(std::string_view request, std::chrono::milliseconds timeout = std::chrono::seconds(2));

 private:
  int fd_ = -1;
};

}  // namespace kvtr::test
