// The per-parameter steps straight over the device link, for exchanges outside a task: the APLY
// sequence, the command-line tool's module commands. They keep the rules of the steps that
// matter outside a walk (a value that is not known is never written, nor one that the value
// rules refuse, a negative index is never exchanged, a written network setting marks the APLY
// follow-up as due) and leave out what only
// a task has: the progress log, the failure streak, the error-log file. The exchange engine has
// its own steps with all of that and can be handed to the same callers instead.
#pragma once

#include <string>

#include "model/parameter_steps.h"

namespace kvtr {

class DeviceLink;
class Parameter;

// Results of the steps besides those of Transact.
inline constexpr int kStepNotInitialised = kStepNoData;  // the text to write is "Нет данных"
inline constexpr int kStepSkipped = 6;         // negative index
inline constexpr int kStepValueRefused = 7;    // the value rules refuse the text: nothing was sent
inline constexpr std::string_view kNotInitialisedText =
    "Значение не записанно, так как параметер не инициализирован";

class LinkParameterSteps : public ParameterSteps {
 public:
  explicit LinkParameterSteps(DeviceLink& link) : link_(link) {}

  int ReadParameter(Parameter& parameter) override;
  // mode -1 writes the initial value of the descriptor, every other mode the value.
  int WriteParameter(Parameter& parameter, int mode) override;
  // Reads the module's value into a copy, leaving the parameter as it is; returns the read's
  // result. Recording the difference is the business of a task's compare report.
  int CompareParameter(Parameter& parameter) override;

  bool aborted() override { return false; }
  void LogLine(const std::string&) override {}

 private:
  DeviceLink& link_;
};

}  // namespace kvtr
