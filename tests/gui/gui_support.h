// What the GUI tests share: the program's user-interface interface with the message boxes and
// questions recorded instead of shown, and a wait that keeps the GUI thread's events flowing.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QThread>
#include <deque>
#include <functional>

#include "ui/qt_user_interface.h"

namespace kvtr::test {

class RecordingQtUserInterface : public ui::QtUserInterface {
 public:
  struct Message {
    QString text;
    QString caption;
    MessageIcon icon = MessageIcon::None;
  };
  std::vector<Message> messages;
  QStringList questions;
  // Answers to the next questions, in order; "no" once they run out.
  std::deque<bool> answers;

  [[nodiscard]] bool saw(const QString& text) const {
    for (const Message& m : messages)
      if (m.text.contains(text)) return true;
    return false;
  }

 protected:
  void ShowMessageBox(const QString& text, const QString& caption, MessageIcon icon) override {
    messages.push_back({text, caption, icon});
  }
  bool AskQuestion(const QString& text, const QString&) override {
    questions << text;
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// Processes the GUI thread's events until `done` holds or `timeoutMs` passes; returns `done()`.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

}  // namespace kvtr::test
