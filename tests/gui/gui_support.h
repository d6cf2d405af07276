// What the GUI tests share: the program's user-interface interface with the message boxes and
// questions recorded instead of shown, and a wait that keeps the GUI thread's events flowing.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QThread>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/document.h"
#include "integration/sim_fixture.h"
#include "protocol/network_settings.h"
#include "ui/main_frame.h"
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

// A document as the program makes it, on `port`: the shipped descriptor, the port in the program's
// settings (none when `port` is empty), the progress window closing as soon as its task ends. The
// new configuration (the tree, the port opened) is made by the caller:
// `ASSERT_TRUE(document->NewDocument())`.
inline std::unique_ptr<Document> documentOnPort(UserInterface& ui, const std::string& port, LinkState* state = nullptr) {
  DocumentOptions options;
  options.descriptorFile = std::filesystem::path(KVTR_BIN_DIR) / "kvtr.tree.dat";
  options.ui = &ui;
  options.state = state;
  options.portChoices = " ";
  auto document = std::make_unique<Document>(options);
  document->engine().setClosingGrace(Clock::Duration::zero());
  if (!port.empty()) document->engine().programPortNode().SetValueByName(std::string(kPortParameterName), port);
  return document;
}

// The frames the simulator has received so far; -1 when it did not say.
inline int framesSeen(SimProcess& sim) {
  const std::string answer = sim.Control("frames");
  return answer.rfind("ok ", 0) == 0 ? std::stoi(answer.substr(3)) : -1;
}

// The main window over a document on a simulated module, as the commands of its menus are tested.
template <typename Ui = RecordingQtUserInterface>
class MainWindowFixture : public SimFixture {
 protected:
  void OpenWindowOver(SimProcess& simulator) {
    sim = &simulator;
    document = documentOnPort(ui, simulator.port());
    ASSERT_TRUE(document->NewDocument());
    frame = std::make_unique<ui::MainFrame>(ui);
    frame->setDocument(document.get());
  }
  void TearDown() override {
    frame.reset();
    document.reset();
    SimFixture::TearDown();
  }

  Ui ui;
  SimProcess* sim = nullptr;
  std::unique_ptr<Document> document;
  std::unique_ptr<ui::MainFrame> frame;
};

}  // namespace kvtr::test
