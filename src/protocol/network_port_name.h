// Ports reached over the network through an Ethernet to RS-485 gateway. Such a port is named
//   tcp://HOST:PORT      raw TCP: the gateway's "TCP server" mode, bytes pass as they are and the
//                        gateway's serial side keeps the line settings it was configured with;
//   rfc2217://HOST:PORT  Telnet with the COM port control option (RFC 2217): the program sets the
//                        speed, data bits, parity and stop bits of the gateway's serial side.
// HOST is a name, an IPv4 address or an IPv6 address in brackets; PORT is 1..65535. The scheme is
// taken in any letter case. Every place that takes a serial port takes these names too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvtr {

enum class NetworkPortKind { RawTcp, Rfc2217 };

struct NetworkPortName {
  NetworkPortKind kind = NetworkPortKind::RawTcp;
  std::string host;  // without the brackets of an IPv6 address
  std::uint16_t port = 0;
};

// The length of the "tcp://" or "rfc2217://" that `text` begins with; 0 when it begins with neither.
std::size_t networkSchemeLength(std::string_view text);

// The parts of a network port name; nothing for any other name (a device, "COMn") or a name
// with a bad host or port.
std::optional<NetworkPortName> parseNetworkPortName(std::string_view name);

inline bool isNetworkPortName(std::string_view name) { return parseNetworkPortName(name).has_value(); }

// The figures below are also given in kvtr --help and in the user guide.
// The extra time an answer may take through a gateway: the request and the answer each cross the
// network once, and the gateway forwards the answer after its own short idle gap. The request's own
// time on the gateway's serial side is counted in as behind an automatic converter.
inline constexpr int kNetworkReplyAllowanceMs = 100;
// A gateway may hand a Modbus RTU answer over in more than one TCP segment; a gap between two
// segments must not end the answer.
inline constexpr int kNetworkSilenceAllowanceMs = 50;

}  // namespace kvtr
