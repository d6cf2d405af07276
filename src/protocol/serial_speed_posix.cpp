// Kept in a file of its own: the kernel's termios2 declarations clash with those of <termios.h>.
#include "protocol/serial_speed_posix.h"

#if defined(__linux__)

#include <asm/ioctls.h>
#include <asm/termbits.h>

// <sys/ioctl.h> would drag in the C library's termios types beside the kernel's.
extern "C" int ioctl(int fd, unsigned long request, ...);

namespace kvtr {

bool setLineSpeed(int fd, int baudRate) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  // The same speed both ways: BOTHER in the output and the input speed fields.
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ospeed = static_cast<speed_t>(baudRate);
  t.c_ispeed = static_cast<speed_t>(baudRate);
  return ioctl(fd, TCSETS2, &t) == 0;
}

std::optional<int> readLineSpeed(int fd) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return std::nullopt;
  return static_cast<int>(t.c_ospeed);
}

}  // namespace kvtr

#else

#include <termios.h>

namespace kvtr {

namespace {
struct SpeedCode {
  int baud;
  speed_t code;
};
// Other systems: the speeds termios names. 14400, 28800, 56000 and 128000 are not among them.
constexpr SpeedCode kSpeeds[] = {{110, B110},     {300, B300},     {600, B600},     {1200, B1200},
                                 {2400, B2400},   {4800, B4800},   {9600, B9600},   {19200, B19200},
                                 {38400, B38400}, {57600, B57600}, {115200, B115200}};
}  // namespace

bool setLineSpeed(int fd, int baudRate) {
  for (const SpeedCode& s : kSpeeds) {
    if (s.baud != baudRate) continue;
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfsetispeed(&t, s.code);
    cfsetospeed(&t, s.code);
    return tcsetattr(fd, TCSANOW, &t) == 0;
  }
  return false;
}

std::optional<int> readLineSpeed(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return std::nullopt;
  const speed_t code = cfgetospeed(&t);
  for (const SpeedCode& s : kSpeeds) {
    if (s.code == code) return s.baud;
  }
  return std::nullopt;
}

}  // namespace kvtr

#endif
