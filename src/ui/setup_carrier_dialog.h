// The connection dialog "Установка связи с прибором": the program's port settings in a table to
// edit in place, and the buttons that connect with them, restore the module's factory network
// settings and connect, scan every speed for the module, work without the module, or leave.
//
// The exchanges run on a worker thread of the dialog (exchange/network_scan.h); the worker never
// touches a widget: what it has to show (the status line, the speed it is trying, the settings
// list locked while it works, the module found) reaches the dialog as queued calls. The engine's
// abort event is the worker's stop signal: a button that ends the dialog while the worker runs
// stops it first and runs again once it has ended.
#pragma once

#include <QDialog>
#include <memory>

#include "app/application.h"

class QLabel;
class QPushButton;

namespace kvtr {
class ConnectionWorker;
class Document;
class ExchangeEngine;
}  // namespace kvtr

namespace kvtr::ui {

class QtUserInterface;
class TableControl;

class SetupCarrierDialog : public QDialog {
  Q_OBJECT

 public:
  // `offlineAllowed` false disables "Работать offline" (the dialog opened from the menu).
  SetupCarrierDialog(Document& document, QtUserInterface& ui, bool offlineAllowed, QWidget* parent = nullptr);
  // The same over the document's engine: at start-up the application hands the shell the engine.
  SetupCarrierDialog(ExchangeEngine& engine, QtUserInterface& ui, bool offlineAllowed, QWidget* parent = nullptr);
  // Stops the worker and waits for it.
  ~SetupCarrierDialog() override;

  // How the dialog ended: the module answered, "Работать offline", or "Выход".
  [[nodiscard]] ApplicationShell::ConnectionChoice choice() const { return choice_; }

  [[nodiscard]] TableControl& settingsList() const { return *settingsList_; }
  [[nodiscard]] QString statusText() const;
  // The status line shows a failure (red).
  [[nodiscard]] bool alarm() const { return alarm_; }

 public slots:
  // "Выход", Escape and the close box.
  void reject() override;

 private:
  class Progress;
  // The command to repeat once the worker has ended.
  enum class Pending { Ok = 1, Exit = 2, Offline = 3 };

  void SetStatus(const QString& text, bool alarm);
  void ShowSetting(const QString& name, const QString& value);
  void LockSettings(bool locked);
  void ConnectWithSettings();
  void ScanNetwork();
  void FactorySettings();
  void Connected();
  void Exit();
  void WorkOffline();
  void RunPending();
  [[nodiscard]] bool workerEnded() const;
  // Stops the worker; `pending` runs again once it has ended.
  void StopWorker(Pending pending, bool sayInterrupting);

  ExchangeEngine& engine_;
  QtUserInterface& ui_;
  TableControl* settingsList_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* factory_ = nullptr;
  bool alarm_ = false;
  Pending pending_ = Pending::Exit;
  ApplicationShell::ConnectionChoice choice_ = ApplicationShell::ConnectionChoice::Exit;
  std::unique_ptr<Progress> progress_;
  std::unique_ptr<ConnectionWorker> worker_;
};

}  // namespace kvtr::ui
