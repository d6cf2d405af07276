// What the GUI tests share: the program's user-interface interface with the message boxes and
// questions recorded instead of shown, and a wait that keeps the GUI thread's events flowing.
#pragma once

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QThread>
#include <deque>
#include <filesystem>
#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include <string>

#include "app/document.h"
#include "integration/sim_fixture.h"
#include "protocol/network_settings.h"
#include "ui/main_frame.h"
#include "ui/parameter_tree_model.h"
#include "ui/parameter_tree_view.h"
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
inline std::unique_ptr<Document> documentOnPort(
    UserInterface& ui, const std::string& port, LinkState* state = nullptr,
    const std::filesystem::path& descriptor = std::filesystem::path(KVTR_BIN_DIR) / "kvtr.tree.dat") {
  DocumentOptions options;
  options.descriptorFile = descriptor;
  options.ui = &ui;
  options.state = state;
  options.portChoices = " ";
  auto document = std::make_unique<Document>(options);
  document->engine().setClosingGrace(Clock::Duration::zero());
  if (!port.empty()) document->engine().programPortNode().SetValueByName(std::string(kPortParameterName), port);
  return document;
}

// The row under `parent` whose tree text or parameter name is `text`, fetched as the view does.
inline QModelIndex findRow(ui::ParameterTreeModel& model, const QModelIndex& parent, const QString& text,
                           int column = 0) {
  if (model.canFetchMore(parent)) model.fetchMore(parent);
  for (int r = 0; r < model.rowCount(parent); ++r) {
    const QModelIndex at = model.index(r, 0, parent);
    const Parameter* p = model.parameterAt(at);
    if (at.data().toString() == text || (p != nullptr && ui::qs(p->name) == text)) return at.siblingAtColumn(column);
  }
  ADD_FAILURE() << "no row " << ui::us(text);
  return {};
}

// Types `text` into the cell's editor, or picks it from the editor's list, and presses Enter.
inline void typeInto(ui::ParameterTreeView& view, const QModelIndex& cell, const QString& text) {
  view.scrollTo(cell);
  view.setCurrentIndex(cell);
  view.edit(cell);
  QWidget* editor = view.indexWidget(cell);
  ASSERT_NE(editor, nullptr) << "no editor on the cell";
  if (auto* line = qobject_cast<QLineEdit*>(editor)) {
    line->setText(text);
  } else {
    auto* combo = qobject_cast<QComboBox*>(editor);
    ASSERT_NE(combo, nullptr) << "the cell's editor is neither a field nor a list";
    ASSERT_GE(combo->findText(text), 0) << ui::us(text) << " is not offered";
    combo->setCurrentIndex(combo->findText(text));
  }
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
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
