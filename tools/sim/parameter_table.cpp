#include "sim/parameter_table.h"

#include <algorithm>

#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"
#include "model/desc_branch.h"
#include "protocol/frame_codec.h"

namespace kvtr::sim {

bool SimParameter::hasIndex(int index) const { return std::binary_search(indexes.begin(), indexes.end(), index); }

namespace {

void collect(const DescBranch& branch, ParameterTable& table, std::vector<std::string>* warnings) {
  for (const auto& p : branch.parameters()) {
    SimParameter entry;
    entry.name = p->name;
    entry.hash = hashName(p->name);
    entry.type = p->type;
    entry.kind = p->kind();
    entry.minimum = p->minimum;
    entry.maximum = p->maximum;
    entry.hasAttributes = p->attributeMode != 0;
    entry.initText = p->pendingText;
    entry.indexed = p->hasIndex != 0;
    entry.indexes = {p->hasIndex != 0 ? p->index : 0};
    const std::string name = entry.name;
    if (!table.Add(std::move(entry)) && warnings != nullptr) {
      const SimParameter* other = table.Find(hashName(name));
      warnings->push_back(strprintf(trFormat("у параметра «%s» хеш-сумма 0x%04X, как у «%s»; он пропущен"), name.c_str(),
                                    hashName(name), other != nullptr ? other->name.c_str() : "?"));
    }
  }
  for (const auto& child : branch.children) collect(*child, table, warnings);
}

}  // namespace

ParameterTable ParameterTable::FromTree(const DescBranch* root, const DescBranch* scanners,
                                        std::vector<std::string>* warnings) {
  ParameterTable table;
  if (root != nullptr) collect(*root, table, warnings);
  if (scanners != nullptr) collect(*scanners, table, warnings);
  return table;
}

bool ParameterTable::Add(SimParameter parameter) {
  const auto found = byHash_.find(parameter.hash);
  if (found == byHash_.end()) {
    std::sort(parameter.indexes.begin(), parameter.indexes.end());
    byHash_.emplace(parameter.hash, parameters_.size());
    parameters_.push_back(std::move(parameter));
    return true;
  }
  SimParameter& entry = parameters_[found->second];
  if (!equalsNoCase(entry.name, parameter.name)) return false;
  entry.indexed = entry.indexed || parameter.indexed;
  for (const int index : parameter.indexes) {
    const auto at = std::lower_bound(entry.indexes.begin(), entry.indexes.end(), index);
    if (at == entry.indexes.end() || *at != index) entry.indexes.insert(at, index);
  }
  return true;
}

const SimParameter* ParameterTable::Find(std::uint16_t hash) const {
  const auto found = byHash_.find(hash);
  return found == byHash_.end() ? nullptr : &parameters_[found->second];
}

const SimParameter* ParameterTable::FindByName(std::string_view name) const { return Find(hashName(name)); }

}  // namespace kvtr::sim
