#include "ui/apply_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>
#include <vector>

#include "common/strings.h"
#include "common/format.h"
#include "common/user_interface.h"
#include "model/parameter.h"
#include "model/parameter_steps.h"
#include "protocol/device_link.h"
#include "protocol/network_settings.h"
#include "ui/qt_user_interface.h"
#include "ui/ui_text.h"

namespace kvtr::ui {

namespace {

constexpr const char* kWarningText = trMark(
    "ВНИМАНИЕ: Данная операция приведет к переключению прибора на новые сетевые параметры. Это может привести к "
    "потере связи с прибором. Проверьте параметры связи:");
constexpr const char* kHintText = trMark("Параметры можно посмотреть в дереве №26\n\"Мастер Сети\"");

// The program's port settings by name, to go back to.
using SettingValues = std::vector<std::pair<std::string, std::string>>;

SettingValues programSettings(DeviceLink& link) {
  SettingValues values;
  for (std::string_view name : kNetworkSettingNames) {
    values.emplace_back(name, link.programPortNode().GetValueByName(name));
  }
  values.emplace_back(kPortParameterName, link.programPortNode().GetValueByName(kPortParameterName));
  return values;
}

// "9600 бод, 8N1, адрес 16" in words the operator reads at a glance.
std::string settingsSummary(const ObjectWithParameters& node) {
  return strprintf(trFormat("%s бод, %s бит данных, четность: %s, стоп-бит: %s, адрес %s (%s бит)"),
                   node.GetValueByName("bPS").c_str(), node.GetValueByName("LEn").c_str(),
                   node.GetValueByName("PrtY").c_str(), node.GetValueByName("Sbit").c_str(),
                   node.GetValueByName("Addr").c_str(), node.GetValueByName("A.Len").c_str());
}

// One read of "dev": whether the module answers at the program's settings now.
bool moduleAnswers(ParameterSteps& steps, std::string& name, std::string& why) {
  Parameter dev("dev");
  const int r = steps.ReadParameter(dev);
  if (r == 0) {
    name = dev.value;
    return true;
  }
  why = std::string(trimRight(dev.comment));
  return false;
}

}  // namespace

ApplyDialog::ApplyDialog(DeviceLink* link, ParameterSteps* steps, QtUserInterface& ui, QWidget* parent)
    : QDialog(parent),
      link_(link),
      steps_(steps),
      ui_(ui),
      settings_(new QPlainTextEdit(this)),
      changeProgram_(new QCheckBox(uiText("Поменять сразу сетевые настройки программы"), this)),
      broadcast_(new QCheckBox(uiText("Поcлать широковещательную команду APLY"), this)),
      threeTimes_(new QCheckBox(uiText("Поcлать посылку трижды (для надежности)"), this)) {
  setWindowTitle(uiText(kApplyDialogTitle));
  settings_->setObjectName("newSettings");
  changeProgram_->setObjectName("changeProgram");
  broadcast_->setObjectName("broadcast");
  threeTimes_->setObjectName("threeTimes");

  auto* warning = new QLabel(uiText(kWarningText), this);
  warning->setWordWrap(true);
  auto* group = new QGroupBox(uiText("Новые параметры:"), this);
  auto* groupLayout = new QVBoxLayout(group);
  settings_->setReadOnly(true);
  settings_->setPlainText(QString::fromStdString(
      ApplyDialogSettingsText(link_, link_ != nullptr ? link_->deviceNetworkNode() : nullptr)));
  settings_->setMinimumHeight(settings_->fontMetrics().height() * 8);
  groupLayout->addWidget(settings_);
  groupLayout->addWidget(new QLabel(uiText(kHintText), group));

  changeProgram_->setChecked(true);
  broadcast_->setChecked(false);
  threeTimes_->setChecked(true);
  threeTimes_->setEnabled(false);
  connect(broadcast_, &QCheckBox::toggled, threeTimes_, &QCheckBox::setEnabled);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  ok->setObjectName("ok");
  ok->setDefault(true);
  buttons->addButton(uiText("Отмена"), QDialogButtonBox::RejectRole)->setObjectName("cancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(warning);
  layout->addWidget(group, 1);
  layout->addWidget(changeProgram_);
  layout->addWidget(broadcast_);
  layout->addWidget(threeTimes_);
  layout->addWidget(buttons);
  resize(520, 420);
}

ApplyOptions ApplyDialog::options() const {
  ApplyOptions o;
  o.changeProgramSettings = changeProgram_->isChecked();
  o.broadcast = broadcast_->isChecked();
  o.threeTimes = threeTimes_->isChecked();
  return o;
}

void ApplyDialog::accept() {
  if (link_ != nullptr && steps_ != nullptr) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Error messages of the sequence come only in an interactive run.
    outcome_ = RunApplySequence(*link_, *steps_, options(), link_->batchMode() ? nullptr : &ui_);
    QApplication::restoreOverrideCursor();
  }
  QDialog::accept();
}

bool RunApplyCommand(DeviceLink& link, ParameterSteps& steps, QtUserInterface& ui, QWidget* parent) {
  const SettingValues before = programSettings(link);
  const std::string beforeSummary = settingsSummary(link.programPortNode());
  ApplyDialog dialog(&link, &steps, ui, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  const ApplyOptions options = dialog.options();
  ObjectWithParameters* moduleNode = link.deviceNetworkNode();
  if (!options.changeProgramSettings || moduleNode == nullptr) return true;
  // The program takes the module's settings once more, as the dialog's sequence has done.
  CopyNetworkSettings(*moduleNode, link.programPortNode());
  (void)link.OpenLink(true);

  const ApplyOutcome& out = dialog.outcome();
  const std::string nowSummary = settingsSummary(link.programPortNode());
  if (out.deviceRead && out.deviceResult == 0) {
    ui.showMessage(strprintf(trFormat("Прибор отвечает при новых настройках: %s.\nПрибор: %s"), nowSummary.c_str(),
                             out.deviceName.c_str()),
                   kApplyDialogTitle, MessageIcon::Information);
    return true;
  }
  const std::string question =
      strprintf(trFormat("Прибор не отвечает при новых настройках: %s.\n\nВернуть программу к прежним настройкам (%s)?"),
                nowSummary.c_str(), beforeSummary.c_str());
  if (!ui.askYesNo(question, kApplyDialogTitle)) return true;
  for (const auto& [name, value] : before) (void)link.programPortNode().SetValueByName(name, value);
  (void)link.OpenLink(true);
  std::string device;
  std::string why;
  if (moduleAnswers(steps, device, why)) {
    ui.showMessage(strprintf(trFormat("Программа вернулась к прежним настройкам: %s.\nПрибор отвечает при них.\nПрибор: %s"),
                             beforeSummary.c_str(), device.c_str()),
                   kApplyDialogTitle, MessageIcon::Information);
  } else {
    ui.showMessage(strprintf(trFormat("Программа вернулась к прежним настройкам: %s.\nПрибор не отвечает и при них: %s\n"
                                      "Проверьте подключение прибора и настройки порта (\"Настройка порта\")."),
                             beforeSummary.c_str(), why.c_str()),
                   kApplyDialogTitle, MessageIcon::Exclamation);
  }
  return true;
}

}  // namespace kvtr::ui
