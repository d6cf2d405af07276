#include "protocol/network_port_name.h"

#include "common/strings.h"

namespace kvtr {

namespace {

constexpr std::string_view kTcpScheme = "tcp://";
constexpr std::string_view kRfc2217Scheme = "rfc2217://";

bool beginsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

bool isHostNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_';
}

bool isIpv6Character(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

std::optional<std::uint16_t> portNumber(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::size_t networkSchemeLength(std::string_view text) {
  if (beginsWithNoCase(text, kTcpScheme)) return kTcpScheme.size();
  if (beginsWithNoCase(text, kRfc2217Scheme)) return kRfc2217Scheme.size();
  return 0;
}

std::optional<NetworkPortName> parseNetworkPortName(std::string_view name) {
  const std::size_t scheme = networkSchemeLength(name);
  if (scheme == 0) return std::nullopt;
  NetworkPortName out;
  out.kind = scheme == kTcpScheme.size() ? NetworkPortKind::RawTcp : NetworkPortKind::Rfc2217;
  std::string_view rest = name.substr(scheme);
  std::string_view host;
  if (rest.starts_with('[')) {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = rest.substr(1, close - 1);
    for (const char c : host) {
      if (!isIpv6Character(c)) return std::nullopt;
    }
    rest.remove_prefix(close + 1);
    if (!rest.starts_with(':')) return std::nullopt;
  } else {
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    host = rest.substr(0, colon);
    for (const char c : host) {
      if (!isHostNameCharacter(c)) return std::nullopt;
    }
    rest.remove_prefix(colon);
  }
  if (host.empty()) return std::nullopt;
  const auto port = portNumber(rest.substr(1));
  if (!port) return std::nullopt;
  out.host = std::string(host);
  out.port = *port;
  return out;
}

}  // namespace kvtr
