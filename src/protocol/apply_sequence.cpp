#include "protocol/apply_sequence.h"

#include <chrono>

#include "common/catalogue.h"
#include "common/user_interface.h"
#include "model/parameter.h"
#include "model/parameter_steps.h"
#include "protocol/device_link.h"
#include "protocol/network_settings.h"

namespace kvtr {

namespace {

constexpr auto kRepeatPause = std::chrono::milliseconds(100);

// The program takes the module's settings: copy them, reopen the port with them.
int switchProgramSettings(DeviceLink& link, const ObjectWithParameters& moduleNode) {
  CopyNetworkSettings(moduleNode, link.programPortNode());
  return link.OpenLink(true);
}

}  // namespace

ApplyOutcome RunApplySequence(DeviceLink& link, ParameterSteps& steps, const ApplyOptions& options,
                              UserInterface* ui, Clock& clock) {
  ApplyOutcome out;
  Parameter apply("APLY");
  apply.value.clear();
  out.applyResult = steps.WriteParameter(apply, kWriteAll);
  out.applyComment = apply.comment;
  if (out.applyResult != 0) out.report = tr("Ошибка команды 'APLY':\n") + apply.comment + "\n";

  const ObjectWithParameters* moduleNode = link.deviceNetworkNode();
  if (moduleNode != nullptr && options.changeProgramSettings) {
    out.openResult = switchProgramSettings(link, *moduleNode);
    out.switched = true;
    Parameter dev("dev");
    out.deviceRead = true;
    out.deviceResult = steps.ReadParameter(dev);
    if (out.deviceResult != 0) {
      out.report += tr("Ошибка команды 'dev':\n") + dev.comment + "\n";
    } else {
      out.deviceName = dev.value;
    }
  }

  if (options.broadcast) {
    const int times = options.threeTimes ? 3 : 1;
    for (int i = 0; i < times; ++i) {
      clock.sleepFor(kRepeatPause);
      Parameter again("APLY");
      again.value.clear();
      (void)link.Transact(false, &again);
      ++out.repeatedSends;
      clock.sleepFor(kRepeatPause);
    }
  }

  if (!out.report.empty() && ui != nullptr) {
    ui->showMessage(out.report, tr("Имела место ошибка"), MessageIcon::Stop);
  }
  return out;
}

int ApplyNetworkSettingsBatch(DeviceLink& link, ParameterSteps& steps) {
  Parameter apply("APLY");
  apply.value.clear();
  const int result = steps.WriteParameter(apply, kWriteAll);
  if (const ObjectWithParameters* moduleNode = link.deviceNetworkNode()) (void)switchProgramSettings(link, *moduleNode);
  return result;
}

std::string ApplyDialogSettingsText(const DeviceLink* link, const ObjectWithParameters* moduleNode) {
  if (link == nullptr) return tr("Нет данных - контекст устройства не получен диалогом APLY\n\nВнутренняя ошибка программы");
  if (moduleNode == nullptr) {
    return tr("Нет данных - элемент 'Сетевые параметры прибора' не инициализирован\n\nВнутренняя ошибка программы");
  }
  const struct {
    const char* label;
    const char* name;
  } rows[] = {{trMark("Скорость: "), "bPS"},        {trMark("Длина слова данных: "), "LEn"},
              {trMark("Четность: "), "PrtY"},        {trMark("Кол-во стоп-бит: "), "Sbit"},
              {trMark("Длина адреса: "), "A.Len"},   {trMark("Адрес: "), "Addr"}};
  std::string text;
  for (const auto& row : rows) {
    if (!text.empty()) text += "\n";
    text += tr(row.label) + moduleNode->GetValueByName(row.name);
  }
  return text;
}

}  // namespace kvtr
