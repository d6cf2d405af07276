#include "ui/qt_user_interface.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace kvtr::ui {

namespace {

bool onGuiThread() { return QThread::currentThread() == qApp->thread(); }

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
  const QString qtext = qs(text);
  const QString qcaption = qs(caption);
  if (onGuiThread()) {
    ShowMessageBox(qtext, qcaption, icon);
    return;
  }
  QMetaObject::invokeMethod(
      this, [this, qtext, qcaption, icon] { ShowMessageBox(qtext, qcaption, icon); }, Qt::BlockingQueuedConnection);
}

bool QtUserInterface::askYesNo(const std::string& text, const std::string& caption) {
  const QString qtext = qs(text);
  const QString qcaption = qs(caption);
  if (onGuiThread()) return AskQuestion(qtext, qcaption);
  bool answer = false;
  QMetaObject::invokeMethod(
      this, [this, qtext, qcaption] { return AskQuestion(qtext, qcaption); }, Qt::BlockingQueuedConnection, &answer);
  return answer;
}

void QtUserInterface::taskStarted(const std::string& caption, int total) { emit taskOpened(qs(caption), total); }
void QtUserInterface::logLine(const std::string& line) { emit taskLine(qs(line)); }
void QtUserInterface::taskProgress(const TaskProgress& update) { emit taskProgressed(update); }
void QtUserInterface::taskFinished(const std::string& closingText) { emit taskClosed(qs(closingText)); }

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
