// The simulator behind a network gateway: a TCP server on 127.0.0.1, as an Ethernet to RS-485
// gateway in its "TCP server" mode offers the module's line. Raw TCP passes bytes as they are
// and the gateway's serial side is taken to match the module. With RFC 2217 the Telnet layer is
// undone and put on, and the program's COM port settings are kept: the module hears only when
// they match its own (as on a pseudo-terminal: speed, stop bits, odd parity).
//
// One program at a time, as most gateways take: a new connection replaces the one before, and
// a closed connection leaves the server listening for the next.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "protocol/rfc2217.h"
#include "sim/line_endpoint.h"

namespace kvtr::sim {

class NetworkEndpoint final : public LineEndpoint {
 public:
  NetworkEndpoint() = default;
  ~NetworkEndpoint() override;
  NetworkEndpoint(const NetworkEndpoint&) = delete;
  NetworkEndpoint& operator=(const NetworkEndpoint&) = delete;

  // Listens on 127.0.0.1:`port` (0: a free port the system picks). `line` is what the gateway's
  // serial side starts with. False with `error` on failure.
  bool Open(bool rfc2217, std::uint16_t port, const LineSettings& line, std::string& error);

  [[nodiscard]] int pollFd() const override { return poller_; }
  long Read(char* buffer, std::size_t size) override;
  void Write(const char* data, std::size_t size) override;
  [[nodiscard]] LineView View(const LineSettings& module) const override;
  [[nodiscard]] const std::string& name() const override { return name_; }
  [[nodiscard]] bool toldSettings() const override { return telnet_ != nullptr; }

 private:
  void Accept();
  void Drop();
  void SendAll(const std::uint8_t* data, std::size_t size);

  bool rfc2217_ = false;
  int listener_ = -1;
  int poller_ = -1;  // an epoll descriptor over the listener and the connection
  int client_ = -1;
  std::string name_;
  LineSettings initial_;
  std::unique_ptr<TelnetSession> telnet_;  // for the connection of an RFC 2217 server
};

}  // namespace kvtr::sim
