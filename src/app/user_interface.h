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

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A message box: text, caption and icon kind.
  virtual void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) = 0;

  // A yes/no question; true for "yes".
  virtual bool askYesNo(const std::string& text, const std::string& caption) = 0;

  // The progress window of a long exchange: started with its caption and total, a log line per
  // step, the counter, and finished with the closing text.
  virtual void taskStarted(const std::string& caption, int total) { (void)caption; (void)total; }
  virtual void logLine(const std::string& line) { (void)line; }
  virtual void progress(int done, int total) { (void)done; (void)total; }
  virtual void taskFinished(const std::string& closingText) { (void)closingText; }
};

// Shows nothing and answers "no": for code paths that run without anyone to ask.
class SilentUserInterface : public UserInterface {
 public:
  void showMessage(const std::string&, const std::string&, MessageIcon) override {}
  bool askYesNo(const std::string&, const std::string&) override { return false; }
};

}  // namespace kvtr
