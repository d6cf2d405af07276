// What the module commands share: the port options and the stored port settings with the
// options in their place for this run, the link to the module (the exchange engine, whose group
// tasks the jobs run and whose transactions the single commands use), the descriptor's tree,
// the port opening and the exit codes.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings_store.h"
#include "command.h"
#include "exchange/exchange_engine.h"
#include "model/parameter_tree.h"
#include "terminal_progress.h"

namespace kvtr::cli {

// The options every module command takes (the descriptor among them).
inline constexpr OptionSpec kPortOptionSpecs[] = {
    {"port", 0, OptionArgument::Required},           {"baud", 0, OptionArgument::Required},
    {"data-bits", 0, OptionArgument::Required},      {"parity", 0, OptionArgument::Required},
    {"stop-bits", 0, OptionArgument::Required},      {"address", 0, OptionArgument::Required},
    {"address-length", 0, OptionArgument::Required}, {"converter", 0, OptionArgument::Required},
    {"no-attributes", 0, OptionArgument::None},      {"descriptor", 0, OptionArgument::Required},
};

// The port options followed by a command's own.
[[nodiscard]] std::vector<OptionSpec> withPortOptions(std::initializer_list<OptionSpec> own);

// An option given to the command, else before it.
[[nodiscard]] std::optional<std::string> optionValue(const CommandContext& context, const ParsedOptions& options,
                                                     std::string_view name);
[[nodiscard]] bool optionGiven(const CommandContext& context, const ParsedOptions& options, std::string_view name);

// What a module command works with: the descriptor's tree, the stored settings and the link.
struct ModuleSession {
  // `bar` and `verbose`: how the progress of a group task shows on the error stream.
  explicit ModuleSession(std::FILE* err, bool bar = false, bool verbose = false) : ui(err, bar, verbose) {}

  TerminalProgress ui;
  ParameterTree tree;
  std::unique_ptr<SettingsStore> store;
  std::unique_ptr<ExchangeEngine> link;
};

// The descriptor's whole tree into the session; false after the failure has been reported.
bool loadTree(CommandContext& context, const Command& command, const ParsedOptions& options, ModuleSession& session);

// Builds the link from the stored port settings and the options given. Returns an exit code when
// an option is malformed.
std::optional<int> makeLink(CommandContext& context, const Command& command, const ParsedOptions& options,
                            ModuleSession& session);

// Opens the port; the exit code when it cannot be opened (its message is already shown).
std::optional<int> openLink(ModuleSession& session);

// The exit code of a command of which `failed` exchanges failed: the link's failure flags, or 1
// for a failure that set none. A failure is never reported as success.
[[nodiscard]] int exitCodeAfter(const ModuleSession& session, int failed);

}  // namespace kvtr::cli
