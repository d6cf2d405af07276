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
  const ValueCheck check = parameter.CheckText(text);
  if (check.writable && !check.accepted) {
    parameter.comment = ValueNotWrittenText(text, check);
    return kStepValueRefused;
  }
  // What goes out is the text as the value rules keep it ("0,7" as 0.700).
  if (check.accepted) parameter.value = check.stored;
  else if (mode == kWriteInitial) parameter.value = parameter.pendingText;
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
