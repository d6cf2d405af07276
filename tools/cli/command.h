// The command table of the kvtr tool. Each group of commands lives in a file of its own and
// hands its table to main.cpp, which lists the groups in one place:
//
//   std::span<const Command> protocolCommands();   // protocol_commands.cpp
//   std::span<const Command> moduleCommands();     // module_commands.cpp
//   std::span<const Command> fileCommands();       // file_commands.cpp
//   std::span<const Command> jobCommands();        // job_commands.cpp
//
// A command gets the arguments after its name and returns the process exit code.
#pragma once

#include "app/option_parser.h"
#include "common/catalogue.h"

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kvtr::cli {

// 0 success; 200..206 the failure flags of a module job; 1 any other failure; 2 a usage error;
// 3 `compare` found the module and the file different (every parameter compared, none failed).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitDifferences = 3;

struct CommandContext {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  // The options given before the command name.
  const ParsedOptions* global = nullptr;
};

// The usage, summary and details are operator texts marked with trMark() where the tables are
// written, and looked up with tr() where they are shown.
struct Command {
  std::string_view name;     // "frame"
  std::string_view usage;    // what follows the name in a usage line: "ИМЯ..."
  std::string_view summary;  // one line for "kvtr --help"
  int (*run)(CommandContext& context, std::span<const std::string> args);
  const char* details = nullptr;  // the command's own options explained, for "kvtr NAME --help"
};

// The tables of the command groups.
std::span<const Command> protocolCommands();
std::span<const Command> moduleCommands();
std::span<const Command> batchCommands();
std::span<const Command> exportCommands();
std::span<const Command> fileCommands();
std::span<const Command> jobCommands();

// Prints "kvtr NAME: message", the command's usage line and a pointer to --help on the error
// stream; returns kExitUsage.
int usageError(CommandContext& context, const Command& command, std::string_view message);

// Prints "kvtr NAME: message" on the error stream; returns kExitFailure.
int failure(CommandContext& context, const Command& command, std::string_view message);

// Parses a command's own options (adding --help/-h, which prints the usage and ends the command
// with 0). Returns an exit code when the command must end now: on --help or a usage error.
std::optional<int> parseCommandOptions(CommandContext& context, const Command& command,
                                       std::span<const std::string> args, std::span<const OptionSpec> optionSpecs,
                                       ParsedOptions& out);

// The explanation of the port options, for every --help that names them.
[[nodiscard]] const char* portOptionsHelp();

// Writes text followed by a line end on the output stream.
void printLine(CommandContext& context, std::string_view text);

}  // namespace kvtr::cli
