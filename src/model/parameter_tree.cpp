#include "model/parameter_tree.h"

#include "common/strings.h"

namespace kvtr {

ParameterTree::ParameterTree() = default;

ParameterTree::~ParameterTree() { Clear(); }

void ParameterTree::Clear() {
  network_ = nullptr;
  // The branches go before the table: each "POUt" parameter clears its own entry on the way.
  root_.reset();
  scanners_.reset();
  outputTable_.clear();
  templates_.clear();
}

const ParamTemplate* ParameterTree::FindTemplate(std::string_view name) const {
  for (const auto& t : templates_) {
    if (equalsNoCase(t.name, name)) return &t;
  }
  return nullptr;
}

Parameter* ParameterTree::OutputParameter(int index) const {
  auto it = outputTable_.find(index);
  return it == outputTable_.end() ? nullptr : it->second;
}

void ParameterTree::EnterOutput(Parameter& parameter, int index) {
  Parameter*& entry = outputTable_[index];
  if (entry == &parameter) return;
  // The parameter that held the position no longer points back here, so that its destruction
  // does not clear the new entry.
  if (entry != nullptr && entry->outputSlot == &entry) entry->outputSlot = nullptr;
  if (parameter.outputSlot != nullptr && *parameter.outputSlot == &parameter) *parameter.outputSlot = nullptr;
  entry = &parameter;
  parameter.outputSlot = &entry;
}

bool ParameterTree::SetNetworkSettings(DescBranch* node) {
  const bool inside = node != nullptr && ((root_ && Contains(*root_, node)) || (scanners_ && Contains(*scanners_, node)));
  network_ = inside ? node : nullptr;
  return inside;
}

void ParameterTree::ForEachParameter(DescBranch& branch, const std::function<void(Parameter&)>& visit) {
  for (const auto& p : branch.parameters()) visit(*p);
  for (const auto& child : branch.children) ForEachParameter(*child, visit);
}

ParameterTree::Counts ParameterTree::CountNodes(const DescBranch& branch) {
  Counts counts{1, branch.ParameterCount()};
  for (const auto& child : branch.children) {
    const Counts c = CountNodes(*child);
    counts.branches += c.branches;
    counts.parameters += c.parameters;
  }
  return counts;
}

bool ParameterTree::Contains(const DescBranch& branch, const DescBranch* node) {
  if (&branch == node) return true;
  for (const auto& child : branch.children) {
    if (Contains(*child, node)) return true;
  }
  return false;
}

}  // namespace kvtr
