#include "model/desc_branch.h"

namespace kvtr {

DescBranch::DescBranch(std::string titleText, int count, int number, int first, int second)
    : InvisibleElement(std::move(titleText)),
      instanceCount(count),
      instanceNumber(number),
      firstNumber(first),
      secondNumber(second) {}

void DescBranch::AddTemplate(ParamTemplate parameterTemplate) {
  templates.push_back(std::move(parameterTemplate));
  order.push_back(kOrderParameter);
}

DescBranch& DescBranch::AddChild(std::unique_ptr<DescBranch> child) {
  children.push_back(std::move(child));
  order.push_back(kOrderBranch);
  return *children.back();
}

std::unique_ptr<DescBranch> DescBranch::DeepCopy(const DescBranch* tracked, DescBranch** trackedCopy) const {
  auto copy = std::make_unique<DescBranch>(title, instanceCount, instanceNumber, firstNumber, secondNumber);
  copy->linearIndex = linearIndex;
  copy->templates = templates;
  copy->order = order;
  for (const auto& p : parameters()) copy->AddParameter(p->Clone());
  for (const auto& child : children) copy->children.push_back(child->DeepCopy(tracked, trackedCopy));
  if (tracked == this && trackedCopy != nullptr) *trackedCopy = copy.get();
  return copy;
}

void DescBranch::ForEachBranch(const std::function<void(DescBranch&)>& visit) {
  visit(*this);
  for (const auto& child : children) child->ForEachBranch(visit);
}

void DescBranch::ResetValues() {
  InvisibleElement::ResetValues();
  for (const auto& child : children) child->ResetValues();
}

// The walks handle the branch's own parameters before its children; each child checks the abort
// itself before it starts.
WalkCounts DescBranch::CompareWithDevice(ParameterSteps& steps) {
  if (steps.aborted()) return {};
  WalkCounts counts = InvisibleElement::CompareWithDevice(steps);
  for (const auto& child : children) counts += child->CompareWithDevice(steps);
  return counts;
}

WalkCounts DescBranch::ReadFromDevice(ParameterSteps& steps) {
  if (steps.aborted()) return {};
  WalkCounts counts = InvisibleElement::ReadFromDevice(steps);
  for (const auto& child : children) counts += child->ReadFromDevice(steps);
  return counts;
}

WalkCounts DescBranch::WriteToDevice(ParameterSteps& steps, int mode) {
  if (steps.aborted()) return {};
  WalkCounts counts = InvisibleElement::WriteToDevice(steps, mode);
  for (const auto& child : children) counts += child->WriteToDevice(steps, mode);
  return counts;
}

}  // namespace kvtr
