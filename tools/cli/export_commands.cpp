// Exports of the descriptor's parameter set for people: the HTML parameter list.
#include "command.h"
#include "descriptor_option.h"

#include "app/html_export.h"
#include "model/parameter_tree.h"

#include <filesystem>
#include <optional>
#include <string>

namespace kvtr::cli {

namespace {

int runExportHtml(CommandContext& context, std::span<const std::string> args);

constexpr Command kCommands[] = {
    {"export-html", "[FILE] [--descriptor PATH]",
     "Write the parameter list of the descriptor as an HTML page in Windows-1251 (FILE defaults to parlist.html "
     "in the current folder).",
     &runExportHtml},
};

// The fragment of operational parameters, or none after a warning: the page is complete
// without it, only shorter.
std::optional<std::string> exportFragment(CommandContext& context, const Command& command) {
  const std::optional<std::filesystem::path> path = FindExportFragment(programDirectory());
  if (!path) {
    std::fprintf(context.err, "kvtr %.*s: warning: %.*s is neither beside the program nor in %s; "
                 "the page goes without the operational parameters\n",
                 static_cast<int>(command.name.size()), command.name.data(),
                 static_cast<int>(kExportFragmentFileName.size()), kExportFragmentFileName.data(),
                 KVTR_INSTALL_DATADIR);
    return std::nullopt;
  }
  std::string error;
  std::optional<std::string> fragment = LoadExportFragment(*path, &error);
  if (!fragment) {
    std::fprintf(context.err, "kvtr %.*s: warning: %s; the page goes without the operational parameters\n",
                 static_cast<int>(command.name.size()), command.name.data(), error.c_str());
  }
  return fragment;
}

int runExportHtml(CommandContext& context, std::span<const std::string> args) {
  const Command& command = kCommands[0];
  const OptionSpec optionSpecs[] = {kDescriptorOption};
  ParsedOptions options;
  if (const auto code = parseCommandOptions(context, command, args, optionSpecs, options)) return *code;
  if (options.operands.size() > 1) return usageError(context, command, "more than one file given");
  const std::filesystem::path target =
      std::filesystem::path(options.operands.empty() ? std::string(kParameterListFileName) : options.operands[0]);

  ParameterTree tree;
  if (!loadDescriptorTree(context, command, options, tree)) return kExitFailure;
  const std::optional<std::string> fragment = exportFragment(context, command);
  std::string error;
  if (!WriteParameterList(target, tree, fragment, &error)) return failure(context, command, error);
  printLine(context, target.string());
  return kExitOk;
}

}  // namespace

std::span<const Command> exportCommands() { return kCommands; }

}  // namespace kvtr::cli
