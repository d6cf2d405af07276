#include "terminal_progress.h"

#include "exchange/group_operations.h"
#include "exchange/task_kind.h"

namespace kvtr::cli {

namespace {
constexpr int kBarWidth = 30;
}  // namespace

TerminalProgress::TerminalProgress(std::FILE* err, bool bar, bool verbose)
    : TerminalMessages(err), err_(err), bar_(bar), verbose_(verbose) {}

std::string TerminalProgress::BarText(int done, int total, int width) {
  if (width <= 0) return "[]";
  int filled = 0;
  if (total > 0) {
    const long long clamped = std::min<long long>(std::max(done, 0), total);
    filled = static_cast<int>(clamped * width / total);
  }
  return "[" + std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(width - filled), '.') +
         "]";
}

void TerminalProgress::clearBar() {
  if (!barShown_) return;
  // Carriage return, then erase the line: the next text starts where the bar was.
  std::fputs("\r\x1b[2K", err_);
  barShown_ = false;
}

void TerminalProgress::drawBar() {
  if (!bar_) return;
  std::string line = "\r\x1b[2K" + caption_ + " ";
  if (last_.total != 0) line += BarText(last_.done, last_.total, kBarWidth) + " " + last_.counter + " ";
  line += last_.elapsed;
  std::fputs(line.c_str(), err_);
  std::fflush(err_);
  barShown_ = true;
}

void TerminalProgress::showMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
  std::lock_guard lock(mutex_);
  clearBar();
  TerminalMessages::showMessage(text, caption, icon);
}

void TerminalProgress::taskStarted(const std::string& caption, int total) {
  std::lock_guard lock(mutex_);
  caption_ = caption;
  last_ = TaskProgress{};
  last_.total = total;
  last_.elapsed = "00:00:00";
  drawBar();
}

void TerminalProgress::logLine(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (!verbose_ && line != kWriteFailureLimitText) return;
  // The closing lines of the progress window ("Задание выполнено. Окно будет закрыто
  // автоматически." after an empty one) belong to the window: on a terminal the job's own last
  // line says how it ended.
  if (line.empty() || line == kTaskDoneText) return;
  clearBar();
  std::fprintf(err_, "%s\n", line.c_str());
}

void TerminalProgress::taskProgress(const TaskProgress& update) {
  std::lock_guard lock(mutex_);
  last_ = update;
  drawBar();
}

void TerminalProgress::taskFinished(const std::string&) {
  std::lock_guard lock(mutex_);
  clearBar();
  std::fflush(err_);
}

}  // namespace kvtr::cli
