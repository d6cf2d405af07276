// The core's user-interface interface in the desktop program: message boxes and questions with
// QMessageBox, the progress window fed by queued signals.
//
// Threads: the core may call any of these from its transmit, polling or watcher threads. A
// message box or a question asked off the GUI thread is shown on the GUI thread while the caller
// waits (a blocking queued call); the progress calls never wait: they are queued signals, so the
// engine never waits on a window and no widget is touched off the GUI thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <string>

#include "common/user_interface.h"

Q_DECLARE_METATYPE(kvtr::TaskProgress)

namespace kvtr::ui {

class QtUserInterface : public QObject, public UserInterface {
  Q_OBJECT

 public:
  explicit QtUserInterface(QObject* parent = nullptr);

  // The window that message boxes and the progress window belong to.
  void setParentWidget(QWidget* widget) { parentWidget_ = widget; }
  [[nodiscard]] QWidget* parentWidget() const { return parentWidget_; }

  void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) final;
  bool askYesNo(const std::string& text, const std::string& caption) final;
  void taskStarted(const std::string& caption, int total) override;
  void logLine(const std::string& line) override;
  void taskProgress(const TaskProgress& update) override;
  void taskFinished(const std::string& closingText) override;

 signals:
  // The progress window's feed, always delivered queued on the GUI thread.
  void taskOpened(const QString& caption, int total);
  void taskLine(const QString& line);
  void taskProgressed(const kvtr::TaskProgress& update);
  void taskClosed(const QString& closingText);

 protected:
  // On the GUI thread. Tests override these two to record what the program says and to answer.
  virtual void ShowMessageBox(const QString& text, const QString& caption, MessageIcon icon);
  virtual bool AskQuestion(const QString& text, const QString& caption);

 private:
  QPointer<QWidget> parentWidget_;
};

// UTF-8 text of the core <-> QString.
inline QString qs(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
inline std::string us(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace kvtr::ui
