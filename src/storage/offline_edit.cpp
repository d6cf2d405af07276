#include "storage/offline_edit.h"

#include <cstdint>
#include <limits>
#include <optional>

#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"
#include "protocol/network_settings.h"

namespace kvtr {

std::optional<ValueEdit> ParseValueEdit(std::string_view argument) {
  const std::size_t equals = argument.find('=');
  if (equals == std::string_view::npos || equals == 0) return std::nullopt;
  std::string_view target = argument.substr(0, equals);
  ValueEdit edit;
  edit.text = std::string(argument.substr(equals + 1));
  const std::size_t colon = target.rfind(':');
  if (colon != std::string_view::npos) {
    const std::optional<std::uint32_t> index = parseWholeUnsigned(target.substr(colon + 1));
    if (!index || *index > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) return std::nullopt;
    edit.index = static_cast<int>(*index);
    target = target.substr(0, colon);
  }
  if (target.empty()) return std::nullopt;
  edit.name = std::string(target);
  return edit;
}

std::string ValueRefusalMessage(const Parameter& parameter, std::string_view text) {
  std::string message =
      strprintf(trFormat("Параметеру '%s' (%s)\nне может быть присвоено значение '%.*s'.\n "), parameter.name.c_str(),
                parameter.description.c_str(), static_cast<int>(text.size()), text.data());
  if (equalsNoCase(parameter.type, "CHAr*")) {
    message += tr("(Значение не удовлетворяет требованиям к формату сетевого имени");
  } else {
    message += tr("(Значение этого параметра должно быть ");
  }
  if (parameter.minimum != 0.0 || parameter.maximum != 0.0) {
    message += parameter.type + tr(" и\n");
    message = strprintf(trFormat("%s должно быть больше %f и меньше %f)\n"), message.c_str(), parameter.minimum,
                        parameter.maximum);
  } else if (!equalsNoCase(parameter.type, "CHAr*")) {
    // Without limits the clause says what the value must be: the choices of a list, the range
    // of a number.
    message += parameter.CheckText(text).expected + ")";
  }
  return message;
}

std::string ReadOnlyRefusalMessage(const Parameter& parameter) {
  return strprintf(trFormat("Параметр '%s' (%s) только читается из прибора; его значение не может быть изменено"),
                   parameter.name.c_str(), parameter.description.c_str());
}

namespace {

struct Named {
  Parameter* parameter;
  const DescBranch* owner;
};

void collect(const DescBranch& branch, const ValueEdit& edit, std::vector<Named>& named, std::vector<int>& indexes) {
  for (const auto& p : branch.parameters()) {
    if (!equalsNoCase(p->name, edit.name)) continue;
    if (p->hasIndex) indexes.push_back(p->index);
    const bool matches = edit.index ? (p->hasIndex && p->index == *edit.index) : !p->hasIndex;
    if (matches) named.push_back({p.get(), &branch});
  }
  for (const auto& child : branch.children) collect(*child, edit, named, indexes);
}

}  // namespace

EditResult CheckParameterEdit(const ParameterTree* tree, const ObjectWithParameters* owner, const Parameter& p,
                              std::string_view text, std::string* stored) {
  EditResult result;
  if (p.ownerFirm) {
    result.outcome = EditOutcome::MakerOwned;
    result.message =
        strprintf(trFormat("Параметр '%s' (%s) принадлежит фирме-изготовителю; его значение не может быть изменено"),
                  p.name.c_str(), p.description.c_str());
    result.caption = tr(kRefusalCaption.data());
    return result;
  }
  const ValueCheck check = CheckValueText(p, text);
  // A parameter that is only read ("dev", "ver", "exit") would never reach the module.
  if (!p.exchangeable || !check.writable) {
    result.outcome = EditOutcome::ReadOnly;
    result.message = ReadOnlyRefusalMessage(p);
    result.caption = tr(kRefusalCaption.data());
    return result;
  }
  if (!check.accepted) {
    result.outcome = EditOutcome::Refused;
    result.message = ValueRefusalMessage(p, text);
    result.caption = tr(kRefusalCaption.data());
    return result;
  }
  if (tree != nullptr && tree->IsNetworkSettingsNode(owner) && !CheckNetworkEdit(*owner, p.name, check.stored, nullptr)) {
    result.outcome = EditOutcome::Forbidden;
    result.message = tr(kNetworkCombinationRefusedText.data());
    result.caption = tr(kNetworkCombinationRefusedCaption.data());
    return result;
  }
  if (stored != nullptr) *stored = check.stored;
  // Only a text that differs from the one kept is a change ("12.5" over "12.500" is none).
  result.outcome = p.value != check.stored ? EditOutcome::Changed : EditOutcome::Unchanged;
  return result;
}

EditResult ApplyParameterEdit(const ParameterTree* tree, const ObjectWithParameters* owner, Parameter& parameter,
                              std::string_view text) {
  std::string stored;
  EditResult result = CheckParameterEdit(tree, owner, parameter, text, &stored);
  if (result.outcome == EditOutcome::Changed) {
    parameter.value = std::move(stored);
    parameter.valueChanged = 1;
  }
  return result;
}

EditResult ApplyValueEdit(ParameterTree& tree, const ValueEdit& edit) {
  EditResult result;
  std::vector<Named> named;
  std::vector<int> indexes;  // of indexed parameters with that name, for the message
  if (tree.root() != nullptr) collect(*tree.root(), edit, named, indexes);
  if (named.empty()) {
    if (!edit.index && !indexes.empty()) {
      result.outcome = EditOutcome::NeedsIndex;
      result.message = strprintf(trFormat("Параметр '%s' задается с индексом: %s:%i ... %s:%i"), edit.name.c_str(),
                                 edit.name.c_str(), indexes.front(), edit.name.c_str(), indexes.back());
    } else {
      result.outcome = EditOutcome::NotFound;
      result.message = edit.index ? strprintf(trFormat("Параметр '%s:%i' не найден"), edit.name.c_str(), *edit.index)
                                  : strprintf(trFormat("Параметр '%s' не найден"), edit.name.c_str());
    }
    return result;
  }
  // Checked for all first, so that a refusal leaves every parameter as it was.
  bool anyDiffers = false;
  std::string stored;
  for (const auto& [p, owner] : named) {
    EditResult check = CheckParameterEdit(&tree, owner, *p, edit.text, &stored);
    if (check.outcome == EditOutcome::Changed) anyDiffers = true;
    else if (check.outcome != EditOutcome::Unchanged) return check;
  }
  result.outcome = anyDiffers ? EditOutcome::Changed : EditOutcome::Unchanged;
  for (const auto& [p, owner] : named) {
    // Only a text that differs from the one kept is stored ("12.5" over "12.500" is none).
    if (p->value != stored) (void)p->SetValueFromText(edit.text);
  }
  return result;
}

}  // namespace kvtr
