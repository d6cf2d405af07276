// Editing the values of a configuration without the module, as the tree's value editor does:
// the operator's text is checked by the parameter (SetValueFromText), a refused text gets the
// editor's refusal message, and an accepted one sets the value-changed flag.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/catalogue.h"
#include "model/parameter_tree.h"

namespace kvtr {

// The caption of the refusal message.
inline constexpr std::string_view kRefusalCaption = trMark("Неудалось изменить параметер");

// One edit: NAME=VALUE or NAME:INDEX=VALUE.
struct ValueEdit {
  std::string name;
  std::optional<int> index;
  std::string text;
};

// Splits "NAME[:INDEX]=VALUE" at the first "="; the index is a decimal number after the last ":"
// of the name part. None for a text without "=" or with an empty name.
[[nodiscard]] std::optional<ValueEdit> ParseValueEdit(std::string_view argument);

// The editor's message for a text the parameter refused. Without limits its clause says what
// the value must be (the choices of a list, the range of a number).
[[nodiscard]] std::string ValueRefusalMessage(const Parameter& parameter, std::string_view text);
// The message for a parameter that is only read from the module ("dev", "ver", "exit").
[[nodiscard]] std::string ReadOnlyRefusalMessage(const Parameter& parameter);

enum class EditOutcome {
  Changed,     // the text was stored; valueChanged is set
  Unchanged,   // the text equals the value: nothing happens, as in the editor
  Refused,     // the parameter's check refused the text
  Forbidden,   // a forbidden combination of the module's network settings
  MakerOwned,  // the maker owns the parameter: its value cannot be changed
  ReadOnly,    // the parameter is only read from the module: a value would never reach it
  NotFound,    // no parameter of that name (and index)
  NeedsIndex,  // the name belongs to indexed parameters only, and no index was given
};

struct EditResult {
  EditOutcome outcome = EditOutcome::NotFound;
  // The message for the user on anything but Changed and Unchanged, and for a refusal or a
  // forbidden combination the caption the editor shows it with.
  std::string message;
  std::string caption;
};

// The rules for one parameter, as the tree's value editor applies them when an edit ends: a
// parameter owned by the maker keeps its value, one that is only read from the module takes
// none, the text must pass the value rules, and a setting of the module's network-settings node
// (`owner`, the node that holds the parameter) must leave a combination the module supports.
// Changed (with `stored`, the text as the parameter would keep it) or Unchanged when the text
// passes; otherwise the refusal with its message and caption.
[[nodiscard]] EditResult CheckParameterEdit(const ParameterTree* tree, const ObjectWithParameters* owner,
                                            const Parameter& parameter, std::string_view text, std::string* stored);
// CheckParameterEdit, and on Changed the text is stored (SetValueFromText: valueChanged is set).
[[nodiscard]] EditResult ApplyParameterEdit(const ParameterTree* tree, const ObjectWithParameters* owner,
                                            Parameter& parameter, std::string_view text);

// Applies the edit to every parameter of the tree's root that it names: the name compared
// without regard to case, and with an index only the indexed parameter of that index, without
// one only parameters without index. Either every named parameter takes the text or none does.
// As in the editor, a parameter owned by the maker keeps its value, and a setting of the
// module's network-settings branch must leave the settings in a combination the module supports.
[[nodiscard]] EditResult ApplyValueEdit(ParameterTree& tree, const ValueEdit& edit);

}  // namespace kvtr
