// A serial port reached through an Ethernet to RS-485 gateway (see network_port_name.h). The
// exchange is the serial port's own (exchangeOverLine) over the gateway's TCP connection; with
// RFC 2217 the Telnet layer is undone on the way in and put on on the way out, and the line
// settings are set on the gateway's serial side when the port opens.
//
// The gateway turns the RS-485 line round by itself, so requests always go out whole, as to an
// automatic converter. A connection that closes or breaks under an exchange is a port that has
// vanished, as a USB converter pulled out is.
#pragma once

#include <memory>
#include <span>

#include "common/event.h"
#include "protocol/network_port_name.h"
#include "protocol/rfc2217.h"
#include "protocol/serial_line.h"
#include "protocol/serial_results.h"
#include "protocol/serial_settings.h"
#include "protocol/tcp_socket.h"

namespace kvtr {

// How long the gateway may take to take the connection, and to confirm the line settings.
inline constexpr int kNetworkConnectTimeoutMs = 3000;
inline constexpr int kNetworkNegotiationTimeoutMs = 2000;

class NetworkPort {
 public:
  struct Opened {
    int result = serial::kCannotOpen;  // serial::kOpened or an open failure of serial_results.h
    serial::PortFailure failure = serial::PortFailure::None;
    int code = 0;  // the system's error code, where there is one
  };

  NetworkPort();
  ~NetworkPort();
  NetworkPort(const NetworkPort&) = delete;
  NetworkPort& operator=(const NetworkPort&) = delete;

  // Connects (closing an open connection first); with RFC 2217 sets the line settings and
  // waits for the gateway to confirm them. The stop event ends the wait.
  Opened open(const NetworkPortName& name, const SerialSettings& settings, Event& stop);
  void close();
  [[nodiscard]] bool isOpen() const { return socket_.isOpen(); }

  // One exchange as SerialPort::exchange makes it. The setup's converter is ignored.
  LineExchangeResult exchange(const LineExchangeSetup& setup, std::span<const std::uint8_t> request,
                              std::span<char> response, Event& stop);

 private:
  TcpSocket socket_;
  std::unique_ptr<TelnetSession> telnet_;  // none for raw TCP
};

// The line settings as COM-PORT-OPTION carries them.
ComPortLine comPortLineOf(const SerialSettings& settings);

}  // namespace kvtr
