#include "ui/qt_user_interface.h"

#include <QMessageBox>

#include "ui/gui_thread.h"
#include "ui/ui_text.h"

namespace kvtr::ui {

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Exclamation: return QMessageBox::Warning;
    case MessageIcon::Stop: return QMessageBox::Critical;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

QtUserInterface::QtUserInterface(QObject* parent) : QObject(parent) {
  qRegisterMetaType<kvtr::TaskProgress>("kvtr::TaskProgress");
}

void QtUserInterface::showMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
  // The texts cross as the core's own strings and become QStrings on the GUI thread, in the running
  // language: a fixed text (the core's constants, the windows' own) is looked up in the catalogue,
  // a composed one passes as it is.
  runOnGuiThread([&] { ShowMessageBox(uiText(text), uiText(caption), icon); });
}

bool QtUserInterface::askYesNo(const std::string& text, const std::string& caption) {
  bool answer = false;
  runOnGuiThread([&] { answer = AskQuestion(uiText(text), uiText(caption)); });
  return answer;
}

// The progress calls come from the transmit thread while a task runs (taskStarted from the thread
// that starts it): each is posted, in order, and its signal emitted on the GUI thread.
void QtUserInterface::taskStarted(const std::string& caption, int total) {
  postToGuiThread([this, caption, total] { emit taskOpened(uiText(caption), total); });
}
void QtUserInterface::logLine(const std::string& line) {
  postToGuiThread([this, line] { emit taskLine(qs(line)); });
}
void QtUserInterface::taskProgress(const TaskProgress& update) {
  postToGuiThread([this, update] { emit taskProgressed(update); });
}
void QtUserInterface::taskFinished(const std::string& closingText) {
  postToGuiThread([this, closingText] { emit taskClosed(uiText(closingText)); });
}

void QtUserInterface::ShowMessageBox(const QString& text, const QString& caption, MessageIcon icon) {
  QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, parentWidget_);
  box.exec();
}

bool QtUserInterface::AskQuestion(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parentWidget_);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace kvtr::ui
