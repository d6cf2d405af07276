// Terminal speeds by number. Linux keeps any speed in termios2 (BOTHER); elsewhere the speed
// constants of termios are the speeds themselves. This file includes the kernel's termios
// structures, which cannot share a translation unit with <termios.h>.
#include <sys/ioctl.h>

#include "sim/pty_endpoint.h"

#if defined(__linux__)
#include <asm/termbits.h>
#else
#include <termios.h>
#endif

namespace kvtr::sim {

int readTerminalSpeed(int fd) {
#if defined(__linux__)
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return 0;
  return static_cast<int>(t.c_ospeed);
#else
  struct termios t {};
  if (::tcgetattr(fd, &t) != 0) return 0;
  return static_cast<int>(::cfgetospeed(&t));
#endif
}

LineView readTerminalView(int fd) {
  LineView view;
#if defined(__linux__)
  // One call for the speed and the character format: the simulator looks at every frame.
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return view;
  view.baud = static_cast<int>(t.c_ospeed);
#else
  struct termios t {};
  if (::tcgetattr(fd, &t) != 0) return view;
  view.baud = static_cast<int>(::cfgetospeed(&t));
#endif
  view.stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
  view.oddParity = (t.c_cflag & PARODD) != 0;
#if defined(CMSPAR)
  // Mark parity is the odd flag with "stick" parity: not the module's odd parity.
  if ((t.c_cflag & CMSPAR) != 0) view.oddParity = false;
#endif
  return view;
}

#if defined(__linux__)
namespace {

// A speed that has a constant of its own is written as that constant, BOTHER only for the rest:
// a program that knows the constants alone (Wine's COM ports over a pseudo-terminal) can then read
// the line's speed back. The kernel reports the number in c_ospeed either way.
tcflag_t speedConstant(int baud) {
  switch (baud) {
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return BOTHER;
  }
}

}  // namespace
#endif

bool writeTerminalSpeed(int fd, int baud) {
#if defined(__linux__)
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  const tcflag_t speed = speedConstant(baud);
  t.c_cflag |= speed | (speed << IBSHIFT);
  t.c_ospeed = static_cast<speed_t>(baud);
  t.c_ispeed = static_cast<speed_t>(baud);
  return ::ioctl(fd, TCSETS2, &t) == 0;
#else
  struct termios t {};
  if (::tcgetattr(fd, &t) != 0) return false;
  ::cfsetspeed(&t, static_cast<speed_t>(baud));
  return ::tcsetattr(fd, TCSANOW, &t) == 0;
#endif
}

}  // namespace kvtr::sim
