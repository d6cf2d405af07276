#include "integration/plain_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kvtr::test {

namespace {

speed_t speedConstant(int baud) {
  switch (baud) {
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

}  // namespace

PlainPort::~PlainPort() {
  if (fd_ >= 0) ::close(fd_);
}

bool PlainPort::Open(const std::string& path, int baud, int stopBits, char parity, std::string& error) {
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  if (!Configure(baud, stopBits, parity)) {
    error = "cannot configure " + path;
    return false;
  }
  return true;
}

bool PlainPort::Configure(int baud, int stopBits, char parity) {
  termios t{};
  if (::tcgetattr(fd_, &t) != 0 || speedConstant(baud) == B0) return false;
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | PARODD);
  if (stopBits == 2) t.c_cflag |= CSTOPB;
  if (parity == 'E') t.c_cflag |= PARENB;
  if (parity == 'O') t.c_cflag |= PARENB | PARODD;
  ::cfsetispeed(&t, speedConstant(baud));
  ::cfsetospeed(&t, speedConstant(baud));
  // A pseudo-terminal drops the parity flag and glibc then reports EINVAL although the rest
  // took effect; the simulator reads back what it can see.
  return ::tcsetattr(fd_, TCSANOW, &t) == 0 || errno == EINVAL;
}

void PlainPort::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string PlainPort::ReadUntil(char end, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string received;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return received;
    pollfd fd{fd_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left)) <= 0) continue;
    char c = 0;
    while (::read(fd_, &c, 1) == 1) {
      received.push_back(c);
      if (c == end) return received;
    }
  }
}

std::string PlainPort::ReadBytes(std::size_t count, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string received;
  while (received.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd fd{fd_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[64];
    const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - received.size()));
    if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
  }
  return received;
}

void PlainPort::Discard() { ::tcflush(fd_, TCIFLUSH); }

std::string PlainPort::Transact(std::string_view request, std::chrono::milliseconds timeout) {
  Discard();
  Write(request);
  return ReadUntil('\r', timeout);
}

}  // namespace kvtr::test
