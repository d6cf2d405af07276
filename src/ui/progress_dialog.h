// The progress window of a long exchange ("Прибор <==> программа"): the running log, the time
// the exchange has taken, the counter "N из M" with its bar, and "Прервать!".
//
// The main window makes it once. It follows the user-interface interface's queued signals: it
// opens when a task starts (application-modal, without blocking whoever started the task), takes
// the log lines and the fields after each line, and closes when the engine has finished the task
// and its closing grace. It cannot be closed by Escape or by the window's close box: only the
// engine ends a task, and "Прервать!" asks it to.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace kvtr {
class ExchangeEngine;
struct TaskProgress;
}  // namespace kvtr

namespace kvtr::ui {

class QtUserInterface;

class ProgressDialog : public QDialog {
  Q_OBJECT

 public:
  ProgressDialog(QtUserInterface& ui, ExchangeEngine& engine, QWidget* parent = nullptr);
  ~ProgressDialog() override;

  // What the window shows, for whoever looks at it.
  [[nodiscard]] QStringList logLines() const;
  [[nodiscard]] QString elapsedText() const;
  [[nodiscard]] QString counterText() const;
  [[nodiscard]] QPushButton* abortButton() const { return abort_; }
  [[nodiscard]] QProgressBar* progressBar() const { return bar_; }

 public slots:
  void reject() override;  // Escape: the window stays

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Open(const QString& caption, int total);
  void AddLine(const QString& line);
  void Update(const kvtr::TaskProgress& update);
  void Close();

  ExchangeEngine& engine_;
  QListWidget* log_ = nullptr;
  QLineEdit* elapsed_ = nullptr;
  QLineEdit* counter_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QPushButton* abort_ = nullptr;
  bool closing_ = false;
  bool arrowCursor_ = false;  // this window pushed the ordinary cursor
};

}  // namespace kvtr::ui
