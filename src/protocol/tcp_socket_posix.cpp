// The gateway's TCP connection on POSIX: a non-blocking socket waited on with poll() together
// with the stop event's descriptor.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "protocol/tcp_socket.h"

namespace kvtr {

namespace {

int timeoutMs(Clock::Duration d) {
  if (d <= Clock::Duration::zero()) return 0;
  // Rounded up: a wait must not end before its time.
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(d).count();
  return static_cast<int>(std::min<long long>((us + 999) / 1000, 1 << 30));
}

// The socket of one address, connecting; -1 when none can be made.
int startConnect(const addrinfo& a, int& error) {
  const int fd = ::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  // Requests are a few bytes each and wait for their answers: they must go out at once.
  const int on = 1;
  (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (::connect(fd, a.ai_addr, a.ai_addrlen) == 0 || errno == EINPROGRESS) return fd;
  error = errno;
  ::close(fd);
  return -1;
}

}  // namespace

TcpSocket::TcpSocket() = default;

TcpSocket::~TcpSocket() { close(); }

void TcpSocket::close() {
  const std::intptr_t h = handle_.exchange(kNoSocket);
  if (h != kNoSocket) ::close(static_cast<int>(h));
}

TcpSocket::Connect TcpSocket::connect(const std::string& host, std::uint16_t port, Clock::Duration timeout,
                                      const Event& stop, int& systemError) {
  close();
  systemError = 0;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    systemError = rc;
    return Connect::NotResolved;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  Connect result = Connect::Failed;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = startConnect(*a, systemError);
    if (fd < 0) continue;
    handle_.store(fd);
    const Wait w = waitFor(false, deadline - std::chrono::steady_clock::now(), stop);
    int error = 0;
    socklen_t length = sizeof error;
    if (w == Wait::Ready && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
      result = Connect::Connected;
      break;
    }
    close();
    if (w == Wait::Stopped) {
      result = Connect::Stopped;
      break;
    }
    if (w == Wait::TimedOut) {
      result = Connect::TimedOut;
      break;
    }
    systemError = error != 0 ? error : ECONNREFUSED;
  }
  ::freeaddrinfo(found);
  return result;
}

TcpSocket::Wait TcpSocket::waitReadable(Clock::Duration timeout, const Event& stop) {
  return waitFor(true, timeout, stop);
}

TcpSocket::Wait TcpSocket::waitWritable(Clock::Duration timeout, const Event& stop) {
  return waitFor(false, timeout, stop);
}

TcpSocket::Wait TcpSocket::waitFor(bool readable, Clock::Duration timeout, const Event& stop) {
  const int fd = static_cast<int>(handle_.load());
  if (fd < 0) return Wait::Failed;
  const short events = readable ? POLLIN : POLLOUT;
  const bool forever = timeout >= Clock::kInfinite;
  const auto deadline = forever ? std::chrono::steady_clock::time_point::max() : std::chrono::steady_clock::now() + timeout;
  for (;;) {
    pollfd fds[2] = {{static_cast<int>(stop.nativeHandle()), POLLIN, 0}, {fd, events, 0}};
    const int rc = ::poll(fds, 2, forever ? -1 : timeoutMs(deadline - std::chrono::steady_clock::now()));
    if (rc < 0) {
      if (errno == EINTR) continue;
      return Wait::Failed;
    }
    if (rc == 0) return Wait::TimedOut;
    if (fds[0].revents & POLLIN) return Wait::Stopped;
    // A closed connection reads as ready: the read then finds its end.
    if (fds[1].revents & (events | POLLHUP)) return Wait::Ready;
    if (fds[1].revents & (POLLERR | POLLNVAL)) return Wait::Failed;
  }
}

long TcpSocket::read(std::span<std::uint8_t> into) {
  const int fd = static_cast<int>(handle_.load());
  if (fd < 0) return -1;
  for (;;) {
    const ssize_t n = ::recv(fd, into.data(), into.size(), 0);
    if (n > 0) return static_cast<long>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    // 0: the gateway closed the connection; ECONNRESET and the like: it is gone.
    return -1;
  }
}

long TcpSocket::write(std::span<const std::uint8_t> bytes) {
  const int fd = static_cast<int>(handle_.load());
  if (fd < 0) return -1;
  for (;;) {
    // MSG_NOSIGNAL: a broken connection is an error here, not a SIGPIPE that ends the program.
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

}  // namespace kvtr
