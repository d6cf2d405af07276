#include "ui/setup_carrier_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/document.h"
#include "common/format.h"
#include "common/strings.h"
#include "exchange/network_scan.h"
#include "model/net_rs485.h"
#include "model/parameter.h"
#include "protocol/network_settings.h"
#include "ui/gui_thread.h"
#include "ui/qt_user_interface.h"
#include "ui/table_control.h"
#include "ui/ui_text.h"

namespace kvtr::ui {

namespace {

constexpr int kRowHeight = 18;
const QColor kStatusColour{0, 0, 200};
const QColor kAlarmColour{200, 0, 0};

}  // namespace

// What the worker shows, handed to the dialog on the GUI thread. The calls come on the worker's
// thread; each is queued to the dialog and dropped if the dialog is gone by then.
class SetupCarrierDialog::Progress final : public ConnectionProgress {
 public:
  explicit Progress(SetupCarrierDialog& dialog) : dialog_(dialog) {}

  void SetStatus(const std::string& text, bool alarm) override {
    post([d = &dialog_, text, alarm] { d->SetStatus(uiText(text), alarm); });
  }
  void SettingChanged(const std::string& name, const std::string& value) override {
    post([d = &dialog_, name, value] { d->ShowSetting(qs(name), qs(value)); });
  }
  void SettingsLocked(bool locked) override {
    post([d = &dialog_, locked] { d->LockSettings(locked); });
  }
  void Connected() override {
    post([d = &dialog_] { d->Connected(); });
  }

 private:
  template <typename F>
  void post(F call) {
    postToGuiThread(&dialog_, std::move(call));
  }
  SetupCarrierDialog& dialog_;
};

SetupCarrierDialog::SetupCarrierDialog(Document& document, QtUserInterface& ui, bool offlineAllowed, QWidget* parent)
    : SetupCarrierDialog(document.engine(), ui, offlineAllowed, parent) {}

SetupCarrierDialog::SetupCarrierDialog(ExchangeEngine& engine, QtUserInterface& ui, bool offlineAllowed, QWidget* parent)
    : QDialog(parent), engine_(engine), ui_(ui) {
  setObjectName("setupCarrierDialog");
  setWindowTitle(uiText("Установка связи с прибором"));

  // The program's picture on the left, when it has one.
  auto* picture = new QLabel(this);
  const QIcon icon = QApplication::windowIcon();
  if (!icon.isNull()) picture->setPixmap(icon.pixmap(64, 64));
  picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  picture->setVisible(!icon.isNull());

  settingsList_ = new TableControl(this);
  settingsList_->setObjectName("settingsList");
  TableModel& rows = settingsList_->table();
  rows.setHeaders({uiText("Параметры порта"), uiText("Значение")});
  rows.setEditableColumns({1});
  // An edit goes into the port setting when its value rules take it; anything else is refused
  // and the row keeps its value, so the port is never opened with settings it cannot have.
  rows.setEditHandler([this](int row, int, const QString& text) -> std::optional<QString> {
    Parameter* p = settingsList_->table().parameter(row);
    if (p == nullptr) return std::nullopt;
    const ValueCheck check = CheckValueText(*p, us(text));
    if (!check.accepted) {
      SetStatus(qs(strprintf(trFormat("Значение '%s' не принято: %s"), us(text).c_str(), check.reason().c_str())), true);
      return std::nullopt;
    }
    p->value = check.stored;
    SetStatus({}, false);
    return qs(p->value);
  });
  for (const auto& p : engine_.programPortNode().parameters()) {
    rows.addRow({uiText(p->description), qs(p->value)}, p.get());
  }
  // 18 pixels, or more where the font needs it (a large or high-resolution font).
  const int rowHeight = std::max(kRowHeight, settingsList_->fontMetrics().height() + 4);
  settingsList_->setRowHeight(rowHeight);
  settingsList_->setColumnShares({3, 1});
  const int listHeight = rowHeight * (rows.rowCount() + 1) + settingsList_->horizontalHeader()->sizeHint().height();
  settingsList_->setMinimumSize(460, listHeight);

  status_ = new QLabel(this);
  status_->setObjectName("statusText");
  status_->setWordWrap(true);
  status_->setMinimumHeight(status_->fontMetrics().height() * 2);
  SetStatus({}, false);

  auto* connectButton = new QPushButton(uiText("Установить связь"), this);
  auto* scanButton = new QPushButton(uiText("Сканирование сети"), this);
  factory_ = new QPushButton(uiText("Заводские сетевые настройки"), this);
  auto* offlineButton = new QPushButton(uiText("Работать offline"), this);
  auto* exitButton = new QPushButton(uiText("Выход"), this);
  offlineButton->setEnabled(offlineAllowed);
  connectButton->setDefault(true);
  connect(connectButton, &QPushButton::clicked, this, &SetupCarrierDialog::ConnectWithSettings);
  connect(scanButton, &QPushButton::clicked, this, &SetupCarrierDialog::ScanNetwork);
  connect(factory_, &QPushButton::clicked, this, &SetupCarrierDialog::FactorySettings);
  connect(offlineButton, &QPushButton::clicked, this, &SetupCarrierDialog::WorkOffline);
  connect(exitButton, &QPushButton::clicked, this, &SetupCarrierDialog::reject);

  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {connectButton, scanButton, factory_, offlineButton}) buttons->addWidget(b);
  buttons->addStretch(1);
  buttons->addWidget(exitButton);

  auto* middle = new QVBoxLayout;
  middle->addWidget(settingsList_, 1);
  middle->addWidget(status_);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(picture);
  layout->addLayout(middle, 1);
  layout->addLayout(buttons);

  progress_ = std::make_unique<Progress>(*this);
  worker_ = std::make_unique<ConnectionWorker>(engine_, EngineIdentifier(engine_), engine_.abortEvent(), *progress_);
  // The worker ends only when asked to (the abort event); the command that asked runs again then.
  worker_->Start([this] { postToGuiThread(this, [this] { RunPending(); }); });
}

SetupCarrierDialog::~SetupCarrierDialog() {
  // The worker goes first: it sets the abort event when it still runs and is waited for, so
  // nothing of it outlives the dialog it reports to.
  worker_.reset();
}

QString SetupCarrierDialog::statusText() const { return status_->text(); }

bool SetupCarrierDialog::workerEnded() const { return worker_->workerEnded().isSet(); }

void SetupCarrierDialog::SetStatus(const QString& text, bool alarm) {
  alarm_ = alarm;
  status_->setText(text);
  QPalette palette = status_->palette();
  palette.setColor(QPalette::WindowText, alarm ? kAlarmColour : kStatusColour);
  status_->setPalette(palette);
  if (alarm) QApplication::beep();
}

void SetupCarrierDialog::ShowSetting(const QString& name, const QString& value) {
  TableModel& rows = settingsList_->table();
  for (int r = 0; r < rows.rowCount(); ++r) {
    const Parameter* p = rows.parameter(r);
    if (p != nullptr && equalsNoCase(p->name, us(name))) rows.setText(r, 1, value);
  }
}

void SetupCarrierDialog::LockSettings(bool locked) {
  // The worker reads and changes the port settings while it works: nothing may edit them then,
  // the factory settings included.
  settingsList_->setEnabled(!locked);
  factory_->setEnabled(!locked);
}

void SetupCarrierDialog::ConnectWithSettings() {
  LockSettings(true);
  worker_->RequestConnect();
  SetStatus(uiText(kScanningStatusText), false);
}

void SetupCarrierDialog::ScanNetwork() {
  LockSettings(true);
  worker_->RequestScan();
}

void SetupCarrierDialog::FactorySettings() {
  for (const auto& [name, value] : ApplyFactoryNetworkSettings(engine_.programPortNode())) {
    ShowSetting(qs(name), qs(value));
  }
  ConnectWithSettings();
}

void SetupCarrierDialog::StopWorker(Pending pending, bool sayInterrupting) {
  if (sayInterrupting) SetStatus(uiText(kInterruptingStatusText), false);
  pending_ = pending;
  engine_.abortEvent().set();
}

void SetupCarrierDialog::Connected() {
  if (!workerEnded()) {
    StopWorker(Pending::Ok, false);
    return;
  }
  ui_.showMessage(std::string(kConnectedMessageText), trMark("Сообщение"), MessageIcon::Information);
  choice_ = ApplicationShell::ConnectionChoice::Connected;
  accept();
}

void SetupCarrierDialog::reject() {
  if (!workerEnded()) {
    StopWorker(Pending::Exit, true);
    return;
  }
  choice_ = ApplicationShell::ConnectionChoice::Exit;
  QDialog::reject();
}

void SetupCarrierDialog::WorkOffline() {
  if (!workerEnded()) {
    StopWorker(Pending::Offline, true);
    return;
  }
  choice_ = ApplicationShell::ConnectionChoice::Offline;
  accept();
}

void SetupCarrierDialog::RunPending() {
  worker_->Join();
  switch (pending_) {
    case Pending::Ok: Connected(); break;
    case Pending::Exit: reject(); break;
    case Pending::Offline: WorkOffline(); break;
  }
}

}  // namespace kvtr::ui
