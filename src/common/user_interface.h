// What the core asks of whoever shows it to a person. The desktop program implements it with
// Qt dialogs, the command-line tool on the terminal, tests with a recorder. Texts and captions
// are passed exactly as the program defines them (UTF-8).
#pragma once

#include <string>

namespace kvtr {

enum class MessageIcon {
  None,
  Information,
  Exclamation,  // warnings
  Stop,         // errors
  Question,
};

// What the progress window shows beside its log after each line.
struct TaskProgress {
  std::string elapsed;  // "Обмен идет:": time since the window opened, "%H:%M:%S"
  std::string counter;  // "Обработано пар-ов:": "%i из %i"; empty when the task has no total
  int done = 0;         // progress bar position
  int total = 0;        // the task's total; 0 leaves the counter and the bar alone
  int barRange = 0;     // progress bar range 0..barRange: the low 16 bits of the total
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A message box: text, caption and icon kind.
  virtual void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) = 0;

  // A yes/no question; true for "yes".
  virtual bool askYesNo(const std::string& text, const std::string& caption) = 0;

  // The progress window of a long exchange ("Прибор <==> программа"). taskStarted comes on the
  // thread that starts the task, before the task runs; logLine, taskProgress and taskFinished
  // come on the exchange engine's transmit thread while the task runs, so a GUI hands them over
  // to its own thread without waiting for it (the engine never waits on the user interface).
  //
  // The window opens with the task's caption and total (0: no counter and no bar).
  virtual void taskStarted(const std::string& caption, int total) { (void)caption; (void)total; }
  // One line appended to the log.
  virtual void logLine(const std::string& line) { (void)line; }
  // The counter: parameters done of the total. Called only for tasks with a total.
  virtual void progress(int done, int total) { (void)done; (void)total; }
  // The fields that follow every log line; by default the counter goes to progress().
  virtual void taskProgress(const TaskProgress& update) {
    if (update.total != 0) progress(update.done, update.total);
  }
  // The window closes; `closingText` is the last line of its log.
  virtual void taskFinished(const std::string& closingText) { (void)closingText; }
};

// Shows nothing and answers "no": for code paths that run without anyone to ask.
class SilentUserInterface : public UserInterface {
 public:
  void showMessage(const std::string&, const std::string&, MessageIcon) override {}
  bool askYesNo(const std::string&, const std::string&) override { return false; }
};

}  // namespace kvtr
