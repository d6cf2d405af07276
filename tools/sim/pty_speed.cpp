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

bool writeTerminalSpeed(int fd, int baud) {
#if defined(__linux__)
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
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
