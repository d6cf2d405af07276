// What a gateway sends, through the Telnet and RFC 2217 layer of either role, and the text of a
// port name through the network port-name parser. The first input byte picks the role and where
// the rest is split in two reads (a command cut between reads must be taken up again).
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "protocol/network_port_name.h"
#include "protocol/rfc2217.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const auto role = (data[0] & 1) != 0 ? kvtr::TelnetSession::Role::Server : kvtr::TelnetSession::Role::Client;
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  const std::size_t cut = rest.empty() ? 0 : (data[0] >> 1) % (rest.size() + 1);

  kvtr::TelnetSession session(role);
  (void)session.Greeting();
  std::vector<std::uint8_t> received;
  std::vector<std::uint8_t> reply;
  session.Feed(rest.first(cut), received, reply);
  session.Feed(rest.subspan(cut), received, reply);
  // Telnet only ever takes bytes out of the data.
  if (received.size() > rest.size()) std::abort();
  // Whatever is escaped comes back as it was.
  std::vector<std::uint8_t> escaped;
  kvtr::TelnetSession::Escape(received, escaped);
  kvtr::TelnetSession again(role);
  std::vector<std::uint8_t> back;
  std::vector<std::uint8_t> ignored;
  again.Feed(escaped, back, ignored);
  if (back != received || !ignored.empty()) std::abort();

  const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());
  if (const auto name = kvtr::parseNetworkPortName(text)) {
    if (name->host.empty() || name->port == 0 || kvtr::networkSchemeLength(text) == 0) std::abort();
  }
  return 0;
}
