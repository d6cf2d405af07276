#include "model/object_with_parameters.h"

#include "common/format.h"
#include "common/strings.h"
#include "common/user_interface.h"

namespace kvtr {

int NormalizeWriteMode(int mode) { return mode > 0 ? kWriteAll : (mode == 0 ? kWriteChanged : kWriteInitial); }

bool QualifiesForWrite(const Parameter& parameter, int mode) {
  if (!parameter.exchangeable) return false;
  switch (NormalizeWriteMode(mode)) {
    case kWriteAll: return true;
    case kWriteChanged: return parameter.isChanged();
    default: return !parameter.pendingText.empty();
  }
}

Parameter& ObjectWithParameters::AddParameter(std::unique_ptr<Parameter> parameter) {
  parameters_.push_back(std::move(parameter));
  return *parameters_.back();
}

Parameter& ObjectWithParameters::AddParameter(std::string name, std::string type, std::string description) {
  return AddParameter(std::make_unique<Parameter>(std::move(name), std::move(type), std::move(description)));
}

Parameter* ObjectWithParameters::FindParameter(std::string_view name) const {
  for (const auto& p : parameters_) {
    if (equalsNoCase(p->name, name)) return p.get();
  }
  return nullptr;
}

void ObjectWithParameters::RebuildParameters() { DeleteParameters(); }

std::string ObjectWithParameters::GetValueByName(std::string_view name) const {
  const Parameter* p = FindParameter(name);
  return p ? p->value : std::string();
}

SetValueResult ObjectWithParameters::SetValueByName(std::string_view name, std::string_view text) {
  Parameter* p = FindParameter(name);
  if (p == nullptr) return SetValueResult::NotFound;
  if (p->value != text) {
    p->value = std::string(text);
    p->valueChanged = 1;
  }
  return SetValueResult::Stored;
}

WalkCounts ObjectWithParameters::CompareOwnParameters(ParameterSteps& steps) {
  WalkCounts counts;
  for (const auto& p : parameters_) {
    if (steps.CompareParameter(*p) != 0) ++counts.failed;
    ++counts.visited;
    if (steps.aborted()) break;
  }
  return counts;
}

WalkCounts ObjectWithParameters::ReadOwnParameters(ParameterSteps& steps) {
  WalkCounts counts;
  for (const auto& p : parameters_) {
    const int result = steps.ReadParameter(*p);
    ++counts.visited;
    // A successful read does not look at the abort: an interruption takes effect at the next
    // failure or the next branch.
    if (result != 0) {
      ++counts.failed;
      if (steps.aborted()) break;
    }
  }
  return counts;
}

WalkCounts ObjectWithParameters::WriteOwnParameters(ParameterSteps& steps, int mode) {
  mode = NormalizeWriteMode(mode);
  WalkCounts counts;
  for (const auto& p : parameters_) {
    if (!QualifiesForWrite(*p, mode)) continue;
    const int result = steps.WriteParameter(*p, mode);
    if (result == kStepNoData) ++counts.passedOver;
    else if (result != 0) ++counts.failed;
    ++counts.visited;
    if (steps.aborted()) break;
  }
  return counts;
}

bool ObjectWithParameters::AnyQualifiesForWrite(int mode) const {
  for (const auto& p : parameters_) {
    if (QualifiesForWrite(*p, mode)) return true;
  }
  return false;
}

WalkCounts ObjectWithParameters::CompareWithDevice(ParameterSteps& steps) {
  if (steps.aborted()) return {};
  return CompareOwnParameters(steps);
}

WalkCounts ObjectWithParameters::ReadFromDevice(ParameterSteps& steps) {
  if (steps.aborted()) return {};
  return ReadOwnParameters(steps);
}

WalkCounts ObjectWithParameters::WriteToDevice(ParameterSteps& steps, int mode) {
  if (steps.aborted()) return {};
  return WriteOwnParameters(steps, mode);
}

int ObjectWithParameters::GetLinearIndex(UserInterface& ui) {
  if (linearIndex == -1) {
    for (const auto& p : parameters_) {
      if (p->hasIndex) {
        linearIndex = p->index;
        break;
      }
    }
    return linearIndex;
  }
  for (const auto& p : parameters_) {
    if (p->hasIndex && p->index != linearIndex) {
      ui.showMessage("Параметер '" + p->name + "' (" + p->description + ") имеет подозрительный линейный индекс.",
                     "Предупреждение", MessageIcon::Exclamation);
    }
  }
  return linearIndex;
}

void ObjectWithParameters::SetLinearIndex(int n) {
  for (const auto& p : parameters_) {
    if (p->hasIndex) p->index = n;
  }
  linearIndex = n;
}

std::string ObjectWithParameters::LinearIndexText(bool showIndexes, UserInterface& ui) {
  if (!showIndexes) return {};
  const int n = GetLinearIndex(ui);
  return n >= 0 ? strprintf("(%i)", n) : std::string();
}

int ObjectWithParameters::GetChangeState() const {
  for (const auto& p : parameters_) {
    if (p->isChanged()) return 2;
  }
  return 0;
}

void ObjectWithParameters::ResetValues() {
  for (const auto& p : parameters_) p->ResetParameter();
}

bool ObjectWithParameters::HasDeviceMismatch(bool anyComment) const {
  for (const auto& p : parameters_) {
    if (p->comment.empty()) continue;
    if (anyComment || !p->HasDeviceValueComment()) return true;
  }
  return false;
}

}  // namespace kvtr
