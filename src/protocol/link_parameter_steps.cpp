#include "protocol/link_parameter_steps.h"

#include "model/parameter.h"
#include "protocol/device_link.h"
#include "protocol/network_settings.h"

namespace kvtr {

int LinkParameterSteps::ReadParameter(Parameter& parameter) {
  if (parameter.index < 0) return kStepSkipped;
  return link_.Transact(true, &parameter);
}

int LinkParameterSteps::WriteParameter(Parameter& parameter, int mode) {
  const std::string text = mode == kWriteInitial ? parameter.pendingText : parameter.value;
  if (text == kNoDataText) {
    parameter.comment = kNotInitialisedText;
    return kStepNotInitialised;
  }
  if (parameter.index < 0) return kStepSkipped;
  if (mode == kWriteInitial) parameter.value = parameter.pendingText;
  const int result = link_.Transact(false, &parameter);
  if (result == 0 && IsNetworkSettingName(parameter.name)) link_.state().networkSettingsWritten.store(true);
  return result;
}

int LinkParameterSteps::CompareParameter(Parameter& parameter) {
  if (parameter.index < 0) return kStepSkipped;
  auto copy = parameter.Clone();
  return link_.Transact(true, copy.get());
}

}  // namespace kvtr
