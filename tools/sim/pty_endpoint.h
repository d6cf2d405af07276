// The simulator's end of the line: a pseudo-terminal pair. A program opens the slave as its
// serial port; the simulator reads and writes the master. The simulator also keeps a descriptor
// of the slave open for as long as it runs:
//   - its settings are those the program made, so they can be read back from it, frame by frame;
//   - with one slave descriptor always open, the master never sees a hang-up between two
//     programs, and the kernel keeps the settings instead of resetting them.
// A consequence: an exclusive open (TIOCEXCL) outlives the program that made it unless the
// program clears it before it closes the port, as a good serial port does.
#pragma once

#include <filesystem>
#include <string>

#include "sim/line_endpoint.h"
#include "sim/line_settings.h"

namespace kvtr::sim {

class PtyEndpoint final : public LineEndpoint {
 public:
  PtyEndpoint() = default;
  ~PtyEndpoint() override;
  PtyEndpoint(const PtyEndpoint&) = delete;
  PtyEndpoint& operator=(const PtyEndpoint&) = delete;

  // Opens the pair; the slave starts raw with the module's speed, stop bits and odd-parity flag,
  // so that a program that changes nothing is heard. False with `error` on failure.
  bool Open(const LineSettings& line, std::string& error);
  // Adds a symbolic link to the slave (an existing link there is replaced; any other file is
  // left alone and the call fails). The link goes with the endpoint.
  bool AddLink(const std::filesystem::path& link, std::string& error);

  [[nodiscard]] int masterFd() const { return master_; }
  [[nodiscard]] const std::string& slavePath() const { return slavePath_; }
  // What the slave's settings show now.
  [[nodiscard]] LineView View() const;

  [[nodiscard]] int pollFd() const override { return master_; }
  long Read(char* buffer, std::size_t size) override;
  void Write(const char* data, std::size_t size) override;
  [[nodiscard]] LineView View(const LineSettings&) const override { return View(); }
  [[nodiscard]] const std::string& name() const override { return slavePath_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::filesystem::path link_;
};

// Speed of a terminal, also one outside the classic table (14400, 28800 ...); 0 when unknown.
[[nodiscard]] int readTerminalSpeed(int fd);
// The speed, stop bits and parity the terminal is set to; a zero speed when they cannot be read.
[[nodiscard]] LineView readTerminalView(int fd);
// Sets both speeds; false when the system refuses.
bool writeTerminalSpeed(int fd, int baud);

}  // namespace kvtr::sim
