#include "sim/network_endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/catalogue.h"
#include "common/format.h"

namespace kvtr::sim {

namespace {

std::uint8_t parityCode(Parity parity) {
  switch (parity) {
    case Parity::None: return rfc2217::kParityNone;
    case Parity::Even: return rfc2217::kParityEven;
    case Parity::Odd: return rfc2217::kParityOdd;
  }
  return rfc2217::kParityNone;
}

}  // namespace

NetworkEndpoint::~NetworkEndpoint() {
  Drop();
  if (listener_ >= 0) ::close(listener_);
  if (poller_ >= 0) ::close(poller_);
}

bool NetworkEndpoint::Open(bool rfc2217, std::uint16_t port, const LineSettings& line, std::string& error) {
  rfc2217_ = rfc2217;
  initial_ = line;
  const auto failed = [&error](const char* what) {
    error = strprintf(trFormat("не удалось открыть сервер TCP (%s): %s"), what, std::strerror(errno));
    return false;
  };
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return failed("socket");
  const int on = 1;
  (void)::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return failed("bind");
  if (::listen(listener_, 4) != 0) return failed("listen");
  socklen_t length = sizeof address;
  if (::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return failed("getsockname");
  poller_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (poller_ < 0) return failed("epoll");
  epoll_event watch{};
  watch.events = EPOLLIN;
  watch.data.fd = listener_;
  if (::epoll_ctl(poller_, EPOLL_CTL_ADD, listener_, &watch) != 0) return failed("epoll");
  name_ = strprintf("%s://127.0.0.1:%u", rfc2217 ? "rfc2217" : "tcp", static_cast<unsigned>(ntohs(address.sin_port)));
  return true;
}

void NetworkEndpoint::Accept() {
  const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  Drop();
  client_ = fd;
  const int on = 1;
  (void)::setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  epoll_event watch{};
  watch.events = EPOLLIN;
  watch.data.fd = client_;
  (void)::epoll_ctl(poller_, EPOLL_CTL_ADD, client_, &watch);
  if (rfc2217_) {
    // Each connection starts from the gateway's own settings and its own negotiation.
    telnet_ = std::make_unique<TelnetSession>(TelnetSession::Role::Server);
    ComPortLine line;
    line.baudRate = static_cast<std::uint32_t>(initial_.baud);
    line.dataSize = static_cast<std::uint8_t>(initial_.dataBits);
    line.parity = parityCode(initial_.parity);
    line.stopSize = static_cast<std::uint8_t>(initial_.stopBits);
    telnet_->SetCurrentLine(line);
    const std::vector<std::uint8_t> greeting = telnet_->Greeting();
    SendAll(greeting.data(), greeting.size());
  }
}

void NetworkEndpoint::Drop() {
  if (client_ < 0) return;
  (void)::epoll_ctl(poller_, EPOLL_CTL_DEL, client_, nullptr);
  ::close(client_);
  client_ = -1;
  telnet_.reset();
}

long NetworkEndpoint::Read(char* buffer, std::size_t size) {
  epoll_event events[2];
  const int ready = ::epoll_wait(poller_, events, 2, 0);
  long count = 0;
  for (int i = 0; i < ready; ++i) {
    if (events[i].data.fd == listener_) {
      Accept();
      continue;
    }
    if (events[i].data.fd != client_ || count > 0) continue;
    std::vector<std::uint8_t> raw(size);
    const ssize_t n = ::recv(client_, raw.data(), raw.size(), 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) {
      // The program has gone: the gateway waits for the next.
      Drop();
      continue;
    }
    raw.resize(static_cast<std::size_t>(n));
    if (telnet_ == nullptr) {
      std::memcpy(buffer, raw.data(), raw.size());
      count = n;
      continue;
    }
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> reply;
    telnet_->Feed(raw, data, reply);
    if (!reply.empty()) SendAll(reply.data(), reply.size());
    // Telnet's layer only ever shortens what came; a packet of Telnet commands alone leaves nothing.
    if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
    count = static_cast<long>(data.size());
  }
  return count;
}

void NetworkEndpoint::SendAll(const std::uint8_t* data, std::size_t size) {
  while (size > 0 && client_ >= 0) {
    const ssize_t n = ::send(client_, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd fd{client_, POLLOUT, 0};
        ::poll(&fd, 1, 100);
        continue;
      }
      Drop();
      return;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void NetworkEndpoint::Write(const char* data, std::size_t size) {
  // With no program connected an answer is lost, as on a line nobody listens to.
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
  if (telnet_ == nullptr) {
    SendAll(bytes, size);
    return;
  }
  std::vector<std::uint8_t> escaped;
  TelnetSession::Escape(std::span<const std::uint8_t>(bytes, size), escaped);
  SendAll(escaped.data(), escaped.size());
}

LineView NetworkEndpoint::View(const LineSettings& module) const {
  // Raw TCP: the gateway's serial side was set up to match the module.
  LineView view{module.baud, module.stopBits, module.parity == Parity::Odd};
  if (telnet_ == nullptr) return view;
  const ComPortLine& told = telnet_->told();
  if (told.baudRate) view.baud = static_cast<int>(*told.baudRate);
  if (told.stopSize) view.stopBits = *told.stopSize == 2 ? 2 : 1;
  if (told.parity) view.oddParity = *told.parity == rfc2217::kParityOdd;
  return view;
}

}  // namespace kvtr::sim
