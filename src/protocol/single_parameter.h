// Access to one parameter by name, outside the tree: the service dialog of the desktop program
// and `kvtr get/set` build the parameter from the descriptor's template the same way and close
// the protocol log with the same lines.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/param_template.h"
#include "model/parameter.h"
#include "protocol/device_link.h"

namespace kvtr {

class ParameterTree;

// What the operator is told about a name that no template describes.
inline constexpr std::string_view kUndefinedTypeText = "<тип неопределен>";
[[nodiscard]] std::string UndescribedParameterText(std::string_view name);

// The template of a name, without regard to case; a name marked "!" in the descriptor (read-only
// in branch writes) is found with or without its mark.
[[nodiscard]] const ParamTemplate* FindDescribedTemplate(const std::vector<ParamTemplate>& templates,
                                                         std::string_view name);

// What the dialog shows while a command name is typed: its hash ("0x%X"), its type and
// description ("<тип неопределен>" and the default description for an unknown name), and the
// values to offer for writing (an enumeration's items, '_' read as a blank, "<hide>" items left
// out; none for the plain types).
struct CommandDescription {
  std::string hashText;
  std::string type;
  std::string description;
  std::string descriptionText;  // description + " (" + type + ")"
  std::vector<std::string> choices;
};
[[nodiscard]] CommandDescription DescribeCommand(const std::vector<ParamTemplate>& templates, std::string_view name);

// Where an index goes: nowhere, into the data field (after the value), or added to the address.
enum class IndexPlacement { None, DataField, Address };

// A parameter as the single-parameter access builds it: name, type, limits and attributes of
// the template; a numeric type with a precision ("int:2") is reduced to its word. The index
// lines and the parameter's line go to `log` when given.
[[nodiscard]] std::unique_ptr<Parameter> ParameterFromTemplate(const ParamTemplate& t, IndexPlacement placement,
                                                               int index, ProtocolLogList* log);

// The closing lines of the protocol log after the transaction returned `result`.
void FinishSingleParameterLog(ProtocolLogList& log, bool read, int result, const Parameter& p);

}  // namespace kvtr
