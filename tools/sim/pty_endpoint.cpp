#include "sim/pty_endpoint.h"

#include "common/catalogue.h"
#include "common/format.h"
#include "common/utf8_path.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kvtr::sim {

PtyEndpoint::~PtyEndpoint() {
  if (!link_.empty()) {
    // Only the link that still points at this slave is ours to remove.
    std::error_code ec;
    if (std::filesystem::is_symlink(link_, ec) && std::filesystem::read_symlink(link_, ec) == slavePath_) {
      std::filesystem::remove(link_, ec);
    }
  }
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
}

bool PtyEndpoint::Open(const LineSettings& line, std::string& error) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    error = tr("не удалось открыть псевдотерминал: ") + std::string(std::strerror(errno));
    return false;
  }
  const char* name = ::ptsname(master_);
  if (name == nullptr) {
    error = tr("не удалось получить имя псевдотерминала: ") + std::string(std::strerror(errno));
    return false;
  }
  slavePath_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    error = strprintf(trFormat("не удалось открыть %s: %s"), slavePath_.c_str(), std::strerror(errno));
    return false;
  }
  (void)::fcntl(master_, F_SETFD, FD_CLOEXEC);
  (void)::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  termios t{};
  if (::tcgetattr(slave_, &t) != 0) {
    error = tr("не удалось прочитать настройки терминала: ") + std::string(std::strerror(errno));
    return false;
  }
  // No echo, no line editing, no translation of carriage returns: bytes pass as they are.
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARODD);
  if (line.stopBits == 2) t.c_cflag |= CSTOPB;
  if (line.parity == Parity::Odd) t.c_cflag |= PARENB | PARODD;
  (void)::tcsetattr(slave_, TCSANOW, &t);
  if (!writeTerminalSpeed(slave_, line.baud)) {
    error = strprintf(trFormat("не удалось установить скорость %s"), slavePath_.c_str());
    return false;
  }
  return true;
}

bool PtyEndpoint::AddLink(const std::filesystem::path& link, std::string& error) {
  std::error_code ec;
  if (std::filesystem::is_symlink(link, ec)) {
    std::filesystem::remove(link, ec);
  } else if (std::filesystem::exists(link, ec)) {
    error = strprintf(trFormat("%s уже есть и не является символической ссылкой"), utf8FromPath(link).c_str());
    return false;
  }
  std::filesystem::create_symlink(slavePath_, link, ec);
  if (ec) {
    error = strprintf(trFormat("не удалось создать ссылку %s: %s"), utf8FromPath(link).c_str(), ec.message().c_str());
    return false;
  }
  link_ = link;
  return true;
}

long PtyEndpoint::Read(char* buffer, std::size_t size) {
  const ssize_t n = ::read(master_, buffer, size);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  return static_cast<long>(n);
}

void PtyEndpoint::Write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(master_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd fd{master_, POLLOUT, 0};
        ::poll(&fd, 1, 100);
        continue;
      }
      return;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

LineView PtyEndpoint::View() const { return readTerminalView(slave_); }

}  // namespace kvtr::sim
