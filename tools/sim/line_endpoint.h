// The simulator's end of the line, whatever carries it: a pseudo-terminal (PtyEndpoint) or a
// network gateway's TCP server (NetworkEndpoint). The server polls its descriptor, reads the
// program's bytes, writes the module's answers and asks what line settings the program made.
#pragma once

#include <cstddef>
#include <string>

#include "sim/line_settings.h"

namespace kvtr::sim {

class LineEndpoint {
 public:
  virtual ~LineEndpoint() = default;

  // The descriptor that polls readable when Read has something to do.
  [[nodiscard]] virtual int pollFd() const = 0;
  // The program's bytes; 0 when there are none now (the endpoint may have dealt with its own
  // business only), negative when the line has failed.
  virtual long Read(char* buffer, std::size_t size) = 0;
  // Sends all of `size` bytes, waiting where the line is full.
  virtual void Write(const char* data, std::size_t size) = 0;
  // What the line settings the program made look like, for a module set to `module`.
  [[nodiscard]] virtual LineView View(const LineSettings& module) const = 0;
  // The name a program opens: the slave path, or tcp://127.0.0.1:PORT and the like.
  [[nodiscard]] virtual const std::string& name() const = 0;
  // The program told its line settings in words (RFC 2217), rather than as a pseudo-terminal
  // shows them: a mismatch is then worth saying on the standard error.
  [[nodiscard]] virtual bool toldSettings() const { return false; }
};

}  // namespace kvtr::sim
