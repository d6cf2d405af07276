// Exports of the descriptor's parameter set for people: the HTML parameter list.
#include "common/program_directory.h"
#include "command.h"
#include "common/catalogue.h"
#include "descriptor_option.h"

#include "app/html_export.h"
#include "common/utf8_path.h"
#include "model/parameter_tree.h"

#include <filesystem>
#include <optional>
#include <string>

namespace kvtr::cli {

namespace {

int runExportHtml(CommandContext& context, std::span<const std::string> args);

constexpr Command kCommands[] = {
    {"export-html", trMark("[ФАЙЛ] [--descriptor ПУТЬ]"),
     trMark("Записать список параметров описателя страницей HTML в кодировке Windows-1251 (по умолчанию ФАЙЛ — "
            "parlist.html в текущей папке)."),
     &runExportHtml,
     trMark("Параметры:\n"
            "  --descriptor ПУТЬ  файл описателя вместо kvtr.tree.dat рядом с программой\n")},
};

// The fragment of operational parameters, or none after a warning: the page is complete
// without it, only shorter.
std::optional<std::string> exportFragment(CommandContext& context, const Command& command) {
  const std::optional<std::filesystem::path> path = FindExportFragment(programDirectory());
  if (!path) {
    std::fprintf(context.err,
                 trFormat("kvtr %.*s: предупреждение: %.*s нет ни рядом с программой, ни в %s; "
                          "страница будет без оперативных параметров\n"),
                 static_cast<int>(command.name.size()), command.name.data(),
                 static_cast<int>(kExportFragmentFileName.size()), kExportFragmentFileName.data(),
                 utf8FromPath(installedDataDirectory()).c_str());
    return std::nullopt;
  }
  std::string error;
  std::optional<std::string> fragment = LoadExportFragment(*path, &error);
  if (!fragment) {
    std::fprintf(context.err, trFormat("kvtr %.*s: предупреждение: %s; страница будет без оперативных параметров\n"),
                 static_cast<int>(command.name.size()), command.name.data(), error.c_str());
  }
  return fragment;
}

int runExportHtml(CommandContext& context, std::span<const std::string> args) {
  const Command& command = kCommands[0];
  const OptionSpec optionSpecs[] = {kDescriptorOption};
  ParsedOptions options;
  if (const auto code = parseCommandOptions(context, command, args, optionSpecs, options)) return *code;
  if (options.operands.size() > 1) return usageError(context, command, tr("задано больше одного файла"));
  const std::filesystem::path target =
      pathFromUtf8(options.operands.empty() ? std::string_view(kParameterListFileName) : options.operands[0]);

  ParameterTree tree;
  if (!loadDescriptorTree(context, command, options, tree)) return kExitFailure;
  const std::optional<std::string> fragment = exportFragment(context, command);
  std::string error;
  if (!WriteParameterList(target, tree, fragment, &error)) return failure(context, command, error);
  printLine(context, utf8FromPath(target));
  return kExitOk;
}

}  // namespace

std::span<const Command> exportCommands() { return kCommands; }

}  // namespace kvtr::cli
