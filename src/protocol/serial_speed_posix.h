// Line speed of a terminal descriptor in bits per second, for every speed the port accepts.
// The classic termios speeds stop at a fixed list that lacks 14400, 28800, 56000 and 128000;
// on Linux any speed is set and read through termios2 with BOTHER.
#pragma once

#include <optional>

namespace kvtr {

[[nodiscard]] bool setLineSpeed(int fd, int baudRate);
std::optional<int> readLineSpeed(int fd);

}  // namespace kvtr
