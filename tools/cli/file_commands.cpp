// File utilities: the parameter tree of the descriptor, and configuration files ("*.kvtr")
// created, shown and edited without a module.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "common/catalogue.h"
#include "common/format.h"
#include "common/utf8_path.h"
#include "descriptor_option.h"
#include "json_writer.h"
#include "model/descriptor_loader.h"
#include "model/descriptor_storage.h"
#include "storage/configuration_file.h"
#include "storage/offline_edit.h"

namespace kvtr::cli {

namespace {

int runTree(CommandContext& context, std::span<const std::string> args);
int runNew(CommandContext& context, std::span<const std::string> args);
int runShow(CommandContext& context, std::span<const std::string> args);
int runEdit(CommandContext& context, std::span<const std::string> args);

constexpr const char* kFileOptionsHelp = trMark(
    "Параметры:\n"
    "  --descriptor ПУТЬ  файл описателя вместо kvtr.tree.dat рядом с программой\n"
    "  --json             вывод в формате JSON\n");

constexpr Command kCommands[] = {
    {"tree", trMark("[--descriptor ПУТЬ] [--json]"),
     trMark("Напечатать дерево параметров описателя: ветви и у каждого параметра имя, тип, пределы, атрибуты и "
            "описание."),
     &runTree, kFileOptionsHelp},
    {"new", trMark("ФАЙЛ [--force] [--descriptor ПУТЬ]"),
     trMark("Создать файл конфигурации всего дерева, все значения «Нет данных»."), &runNew,
     trMark("Параметры:\n"
            "  -f, --force        заменить существующий файл\n"
            "  --descriptor ПУТЬ  файл описателя вместо kvtr.tree.dat рядом с программой\n")},
    {"show", trMark("ФАЙЛ [--descriptor ПУТЬ] [--json]"),
     trMark("Напечатать значения файла конфигурации: значение, комментарий, атрибуты и отметки изменений."),
     &runShow, kFileOptionsHelp},
    {"edit", trMark("ФАЙЛ ИМЯ[:ИНДЕКС]=ЗНАЧЕНИЕ... [--descriptor ПУТЬ]"),
     trMark("Изменить значения в файле конфигурации с проверкой, как в редакторе значений."), &runEdit,
     trMark("Параметры:\n"
            "  --descriptor ПУТЬ  файл описателя вместо kvtr.tree.dat рядом с программой\n")},
};

const Command& commandNamed(std::string_view name) {
  for (const Command& command : kCommands) {
    if (command.name == name) return command;
  }
  return kCommands[0];
}

constexpr OptionSpec kJsonOption{"json", 0, OptionArgument::None};
constexpr OptionSpec kForceOption{"force", 'f', OptionArgument::None};

bool wantsJson(const CommandContext& context, const ParsedOptions& options) {
  return options.has("json") || (context.global != nullptr && context.global->has("json"));
}

std::string nameWithIndex(const Parameter& p) {
  return p.hasIndex ? strprintf("%s:%i", p.name.c_str(), p.index) : p.name;
}

std::string limitsText(const Parameter& p) {
  return p.hasLimits() ? strprintf("%g..%g", p.minimum, p.maximum) : std::string("-");
}

std::string changedText(const Parameter& p) {
  std::string text;
  for (const auto& [flag, word] : {std::pair{p.valueChanged, "value"}, std::pair{p.accessChanged, "access"},
                                   std::pair{p.ownerChanged, "owner"}}) {
    if (!flag) continue;
    if (!text.empty()) text += ",";
    text += word;
  }
  return text;
}

// ---------------------------------------------------------------- tree

// The attribute mode in the operator's language; the JSON keeps the program's own text, as the
// HTML page of the parameter list does.
std::string attributeModeText(const Parameter& p) {
  if (p.attributeMode == 0) return tr("нет атрибутов");
  if (p.attributeMode == 1) return tr("обычн. атрибуты");
  return strprintf(trFormat("дерево атр-ов обрезано (кратность индекcов %i)"), static_cast<int>(p.attributeMode));
}

// Branches as title lines indented by depth; the branch's own parameters, one level deeper,
// before its child branches (the order the configuration file keeps).
void printTreeText(CommandContext& context, const DescBranch& branch, int depth) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  printLine(context, indent + branch.title);
  for (const auto& p : branch.parameters()) {
    printLine(context, indent + "  " + nameWithIndex(*p) + "\t" + p->type + "\t" + limitsText(*p) + "\t" +
                           attributeModeText(*p) + "\t" + p->description);
  }
  for (const auto& child : branch.children) printTreeText(context, *child, depth + 1);
}

// One branch as a JSON object with its parameters and child branches; `writeMembers` adds what
// a parameter shows beyond its name and index.
void writeBranchJson(JsonWriter& json, const DescBranch& branch, void (*writeMembers)(JsonWriter&, const Parameter&)) {
  json.beginObject();
  json.member("title", branch.title);
  json.member("instanceCount", branch.instanceCount);
  json.member("instanceNumber", branch.instanceNumber);
  json.key("parameters");
  json.beginArray();
  for (const auto& p : branch.parameters()) {
    json.beginObject();
    json.member("name", p->name);
    json.member("hasIndex", p->hasIndex != 0);
    json.member("index", p->index);
    writeMembers(json, *p);
    json.endObject();
  }
  json.endArray();
  json.key("children");
  json.beginArray();
  for (const auto& child : branch.children) writeBranchJson(json, *child, writeMembers);
  json.endArray();
  json.endObject();
}

void writeTreeMembers(JsonWriter& json, const Parameter& p) {
  json.member("type", p.type);
  json.member("minimum", p.minimum);
  json.member("maximum", p.maximum);
  json.member("attributeMode", static_cast<int>(p.attributeMode));
  json.member("attributeModeText", p.AttributeModeText());
  json.member("exchangeable", p.exchangeable != 0);
  json.member("initialValue", p.pendingText);
  json.member("description", p.description);
}

int runTree(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("tree");
  ParsedOptions options;
  const OptionSpec optionSpecs[] = {kDescriptorOption, kJsonOption};
  if (auto done = parseCommandOptions(context, command, args, optionSpecs, options)) return *done;
  if (!options.operands.empty()) {
    return usageError(context, command, strprintf(trFormat("лишний аргумент «%s»"), options.operands[0].c_str()));
  }

  ParameterTree tree;
  if (!loadDescriptorTree(context, command, options, tree)) return kExitFailure;

  if (wantsJson(context, options)) {
    JsonWriter json;
    json.beginObject();
    json.key("root");
    writeBranchJson(json, *tree.root(), &writeTreeMembers);
    json.key("scanners");
    if (tree.scanners() != nullptr) {
      writeBranchJson(json, *tree.scanners(), &writeTreeMembers);
    } else {
      json.null();
    }
    json.endObject();
    std::fputs(json.text().c_str(), context.out);
    return kExitOk;
  }
  printTreeText(context, *tree.root(), 0);
  if (tree.scanners() != nullptr) printTreeText(context, *tree.scanners(), 0);
  return kExitOk;
}

// ---------------------------------------------------------------- new

int runNew(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("new");
  ParsedOptions options;
  const OptionSpec optionSpecs[] = {kDescriptorOption, kForceOption};
  if (auto done = parseCommandOptions(context, command, args, optionSpecs, options)) return *done;
  if (options.operands.size() != 1) return usageError(context, command, tr("нужно одно имя файла"));
  const std::filesystem::path file = pathFromUtf8(options.operands[0]);

  std::error_code ec;
  if (std::filesystem::exists(file, ec) && !options.has("force")) {
    return failure(context, command, strprintf(trFormat("файл «%s» уже есть; --force заменяет его"), utf8FromPath(file).c_str()));
  }
  ParameterTree tree;
  if (!loadDescriptorTree(context, command, options, tree)) return kExitFailure;
  std::string error;
  if (!SaveConfigurationFile(tree, file, &error)) return failure(context, command, error);
  return kExitOk;
}

// ---------------------------------------------------------------- show

// Opens a configuration file against the descriptor. The tree is none after the failure has
// been reported: a file that cannot be read, or one that holds no tree (nothing to show or edit).
// `trailingBytes`: what the file holds after the end of the configuration (reported already).
std::unique_ptr<ParameterTree> openFile(CommandContext& context, const Command& command, const ParsedOptions& options,
                                        const std::filesystem::path& file, std::size_t* trailingBytes = nullptr) {
  std::string descriptor;
  if (!readDescriptorText(context, command, options, descriptor)) return nullptr;
  TerminalMessages ui(context.err);
  OpenOptions open;
  open.loadDescriptor = DescriptorFromText(std::move(descriptor));
  OpenResult opened = OpenConfigurationFile(file, ui, open);
  if (!opened.ok()) {
    std::string message = strprintf(trFormat("файл «%s» не прочитан"), utf8FromPath(file).c_str());
    if (!opened.detail.empty()) message += strprintf(" (%s)", opened.detail.c_str());
    failure(context, command, message);
    return nullptr;
  }
  if (opened.tree == nullptr || !opened.tree->hasTree()) {
    failure(context, command,
            strprintf(trFormat("в файле '%s' нет дерева параметров прибора (селектор описания %u)"), utf8FromPath(file).c_str(),
                      opened.tree != nullptr ? opened.tree->descriptorSelector : kDescriptorSelectorNone));
    return nullptr;
  }
  if (trailingBytes != nullptr) *trailingBytes = opened.trailingBytes;
  return std::move(opened.tree);
}

// Why a write would not send the parameter's value: a value of the file that the value rules
// refuse (changed outside the program). None for a value that would go out, for one that is not
// known, and for a parameter that is never written.
std::optional<std::string> writeRefusal(const Parameter& p) {
  if (!p.exchangeable || p.value == kNoDataText) return std::nullopt;
  const ValueCheck check = p.CheckText(p.value);
  if (check.accepted || !check.writable) return std::nullopt;
  return check.reason();
}

void printValuesText(CommandContext& context, const DescBranch& branch, int depth) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  printLine(context, indent + branch.title);
  for (const auto& p : branch.parameters()) {
    std::string line = indent + "  " + nameWithIndex(*p) + " = " + p->value +
                       strprintf("  [editable=%d ownerFirm=%d]", p->editable, p->ownerFirm);
    const std::string changed = changedText(*p);
    if (!changed.empty()) line += "  changed=" + changed;
    if (!p->comment.empty()) line += "  // " + p->comment;
    if (const auto refusal = writeRefusal(*p)) line += std::string("  !! ") + tr("не будет записано:") + " " + *refusal;
    printLine(context, line);
  }
  for (const auto& child : branch.children) printValuesText(context, *child, depth + 1);
}

void writeValueMembers(JsonWriter& json, const Parameter& p) {
  json.member("value", p.value);
  json.member("comment", p.comment);
  json.member("editable", p.editable != 0);
  json.member("ownerFirm", p.ownerFirm != 0);
  json.member("valueChanged", p.valueChanged != 0);
  json.member("accessChanged", p.accessChanged != 0);
  json.member("ownerChanged", p.ownerChanged != 0);
  json.member("exchangeable", p.exchangeable != 0);
  json.member("scanId", p.scanId);
  json.member("description", p.description);
  json.key("writeRefusal");
  if (const auto refusal = writeRefusal(p)) {
    json.string(*refusal);
  } else {
    json.null();
  }
}

int runShow(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("show");
  ParsedOptions options;
  const OptionSpec optionSpecs[] = {kDescriptorOption, kJsonOption};
  if (auto done = parseCommandOptions(context, command, args, optionSpecs, options)) return *done;
  if (options.operands.size() != 1) return usageError(context, command, tr("нужно одно имя файла"));

  const auto tree = openFile(context, command, options, pathFromUtf8(options.operands[0]));
  if (tree == nullptr) return kExitFailure;
  if (wantsJson(context, options)) {
    JsonWriter json;
    json.beginObject();
    json.member("descriptorSelector", tree->descriptorSelector);
    json.key("root");
    if (tree->root() != nullptr) {
      writeBranchJson(json, *tree->root(), &writeValueMembers);
    } else {
      json.null();
    }
    json.endObject();
    std::fputs(json.text().c_str(), context.out);
    return kExitOk;
  }
  if (tree->root() != nullptr) printValuesText(context, *tree->root(), 0);
  return kExitOk;
}

// ---------------------------------------------------------------- edit

int runEdit(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("edit");
  ParsedOptions options;
  const OptionSpec optionSpecs[] = {kDescriptorOption};
  if (auto done = parseCommandOptions(context, command, args, optionSpecs, options)) return *done;
  if (options.operands.size() < 2) return usageError(context, command, tr("нужны файл и хотя бы одно изменение"));

  std::vector<ValueEdit> edits;
  for (std::size_t i = 1; i < options.operands.size(); ++i) {
    auto edit = ParseValueEdit(options.operands[i]);
    if (!edit) {
      return usageError(context, command,
                        strprintf(trFormat("«%s» не в виде ИМЯ=ЗНАЧЕНИЕ или ИМЯ:ИНДЕКС=ЗНАЧЕНИЕ"), options.operands[i].c_str()));
    }
    edits.push_back(std::move(*edit));
  }

  const std::filesystem::path file = pathFromUtf8(options.operands[0]);
  std::size_t trailingBytes = 0;
  const auto tree = openFile(context, command, options, file, &trailingBytes);
  if (tree == nullptr) return kExitFailure;
  if (trailingBytes > 0) {
    // Saving writes the configuration only: what follows it would be lost without a word.
    return failure(context, command,
                   strprintf(trFormat("файл '%s' не изменён: после конца конфигурации в нём ещё %zu байт, которые "
                                      "при сохранении были бы потеряны"),
                             utf8FromPath(file).c_str(), trailingBytes));
  }

  bool changed = false;
  for (const ValueEdit& edit : edits) {
    const EditResult result = ApplyValueEdit(*tree, edit);
    switch (result.outcome) {
      case EditOutcome::Changed:
        changed = true;
        break;
      case EditOutcome::Unchanged:
        break;
      case EditOutcome::Refused:
      case EditOutcome::Forbidden: {
        // The file stays as it was: the edits are applied to the tree in memory only.
        TerminalMessages ui(context.err);
        ui.showMessage(result.message, result.caption, MessageIcon::Stop);
        return kExitFailure;
      }
      case EditOutcome::MakerOwned:
      case EditOutcome::ReadOnly:
      case EditOutcome::NotFound:
      case EditOutcome::NeedsIndex:
        return failure(context, command, result.message);
    }
  }
  if (!changed) return kExitOk;
  std::string error;
  if (!SaveConfigurationFile(*tree, file, &error)) return failure(context, command, error);
  return kExitOk;
}

}  // namespace

std::span<const Command> fileCommands() { return kCommands; }

}  // namespace kvtr::cli
