// The per-parameter steps of the group tasks (read, write, compare one parameter), with their
// progress log lines, the failure limits that stop a task, the compare report, the device
// identification and the instant write after an edit. The tree's walks run them as their steps
// object; the same steps are called directly, outside a task, by value editing, the inputs and
// outputs window and the network-settings dialog (the log then goes nowhere, since no progress
// window is open).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/catalogue.h"
#include "common/user_interface.h"
#include "model/parameter_steps.h"
#include "protocol/link_parameter_steps.h"

namespace kvtr {

class ExchangeEngine;
class Parameter;

// Results of the steps besides those of Transact (and kStepNotInitialised, kStepSkipped).
inline constexpr int kStepAborted = 3;             // compare not made: the task was already stopped
inline constexpr int kInstantWriteNotDone = 1000;  // InstantWrite wrote nothing

// Failures in a row after which a task stops.
inline constexpr int kFailureLimit = 5;

inline constexpr std::string_view kWriteFailureLimitText = "Прошло 5 безуспешных попыток записи!";
inline constexpr std::string_view kApplicationCaption = trMark("Конфигуратор КВТР");
inline constexpr std::string_view kCompareResultCaption = trMark("Результат сравнения");
inline constexpr std::string_view kNoDifferencesText = trMark("Отличий не обнаружено");
inline constexpr std::string_view kOnlyFirstTenText = trMark(" (показанны только первые 10)");
inline constexpr std::string_view kDeviceInfoCaption = trMark("Общие параметры прибора");

// The message of the failure limit of reading, for `streak` time-outs in a row; with the
// automatic-reading note when that mode was on.
[[nodiscard]] std::string ReadFailureLimitText(int streak, bool automaticReadingWasOn);

// A parameter with what an exchange of `parameter` needs (name, type, precision, limits,
// index, attribute mode, address offset) and nothing else: its value is "Нет данных" and its
// attributes the defaults until an exchange fills them.
[[nodiscard]] std::unique_ptr<Parameter> MakeExchangeCopy(const Parameter& parameter);

// What IdentifyDevice found.
struct DeviceIdentity {
  int result = 0;      // 0 no answer to 'dev', 2 another device answered, 3 the КВТР module
  std::string info;    // "Прибор: ...\nВерсия ПО: ..."
  std::string errors;  // "Ошибка команды 'dev':\n..." ...
  std::string device;  // what 'dev' answered
  std::string version;  // what 'ver' answered
};

// True for a 'dev' answer that names the КВТР module: "kvtr" in any letter case, dashes left out.
[[nodiscard]] bool IsKvtrDeviceName(std::string_view answer);

class GroupOperations final : public ParameterSteps {
 public:
  explicit GroupOperations(ExchangeEngine& engine) : engine_(engine) {}

  // The walks read with failure counting.
  int ReadParameter(Parameter& parameter) override { return ReadParameter(parameter, true); }
  // countFailures: time-outs count towards the failure limit (walks and the ReadOne task).
  int ReadParameter(Parameter& parameter, bool countFailures);
  // mode 1 all, 0 changed (as 1 for the step itself), -1 the initial value of the descriptor.
  // A text the value rules refuse is not sent: kStepValueRefused, with the reason in the
  // comment, the progress log, the error log and refusedValues().
  int WriteParameter(Parameter& parameter, int mode) override;
  // Reads the module's value into a copy, logs both and records a difference in the compare
  // report and in front of the parameter's comment. The configuration's value stays. A read that
  // failed is no difference: it counts towards the failure limit as a read does, and the report
  // lists it with its error.
  int CompareParameter(Parameter& parameter) override;

  [[nodiscard]] bool aborted() override;
  void LogLine(const std::string& line) override;

  // Reads 'dev' and 'ver'. With showMessages the errors and then the information are shown.
  DeviceIdentity Identify(bool showMessages);
  int IdentifyDevice(bool showMessages) { return Identify(showMessages).result; }

  // After an accepted edit: writes the parameter when its value changed and immediate writing is
  // on; else returns kInstantWriteNotDone.
  int InstantWrite(Parameter& parameter);

  // The values the write step refused by the value rules since the list was last cleared (at
  // the start of every task), each "NAME[:INDEX] - " and the parameter's comment, as the error
  // log has them.
  void ClearRefusedValues();
  [[nodiscard]] std::vector<std::string> refusedValues() const;

  // The compare report of the running or last compare.
  void ClearCompareReport();
  [[nodiscard]] int differenceCount() const;
  [[nodiscard]] std::string compareReport() const;
  // Parameters the compare could not read, and the first ten of them with their errors.
  [[nodiscard]] int compareFailureCount() const;
  [[nodiscard]] std::string compareFailureReport() const;
  // "Обнаружено %i отличий..." or "Отличий не обнаружено", followed by the parameters that
  // could not be compared.
  [[nodiscard]] std::string CompareResultText() const;
  void ShowCompareResult(UserInterface& ui) const;

 private:
  void CountReadTimeout(bool countFailures);
  void CountWriteFailure(const Parameter& parameter, int result);
  // The port went away under the exchange, or could not be opened for the task (`result` of
  // the step's transaction): the task stops at once and the operator is told which port and
  // why (once per task). True when that is so.
  bool StopIfPortLost(int result);

  ExchangeEngine& engine_;
  mutable std::mutex reportMutex_;
  std::string compareReport_;
  std::string compareFailureReport_;
  std::vector<std::string> refusedValues_;
};

}  // namespace kvtr
