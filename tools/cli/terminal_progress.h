// The progress window of a long exchange on a terminal: a one-line progress bar on the error
// stream while it is a terminal, the log lines with --verbose, and the program's messages as
// "caption: text" lines. The engine calls it from its transmit thread.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "descriptor_option.h"

namespace kvtr::cli {

class TerminalProgress final : public TerminalMessages {
 public:
  // `bar`: draw the bar (the error stream is a terminal and --quiet was not given).
  // `verbose`: every log line; otherwise only the lines that tell why a task stopped.
  TerminalProgress(std::FILE* err, bool bar, bool verbose);

  void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void taskStarted(const std::string& caption, int total) override;
  void logLine(const std::string& line) override;
  void taskProgress(const TaskProgress& update) override;
  void taskFinished(const std::string& closingText) override;

  // The bar of `done` of `total` in `width` cells: "[#####.....]".
  [[nodiscard]] static std::string BarText(int done, int total, int width);

 private:
  void clearBar();  // under mutex_
  void drawBar();   // under mutex_

  std::FILE* err_;
  const bool bar_;
  const bool verbose_;
  std::mutex mutex_;
  std::string caption_;
  TaskProgress last_;
  bool barShown_ = false;
};

// True when the stream is a terminal that takes the control sequences which redraw a line
// (carriage return, erase line, cursor up). One platform file each.
[[nodiscard]] bool isTerminal(std::FILE* stream);

}  // namespace kvtr::cli
