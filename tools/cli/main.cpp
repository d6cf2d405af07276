// kvtr: the command-line tool of the КВТР configurator.
//   kvtr [OPTIONS] COMMAND [ARGS] [OPTIONS]
// --help and --version are the tool's own; the options every module or file command shares (the
// port settings, the descriptor, --json, --quiet ...) may also stand before the command name, and
// are handed to the command as if written after it, so that the command alone decides whether
// it takes them. Texts go out as UTF-8: the terminal's encoding on POSIX; on Windows the console is switched
// to it, and the program's manifest makes the arguments arrive in it.
#include "command.h"
#include "common/catalogue.h"
#include "common/program_directory.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <vector>

namespace kvtr::cli {

namespace {

constexpr std::string_view kProgram = "kvtr";

// Every group of commands, in the order --help lists them.
constexpr std::array kCommandGroups = {
    &protocolCommands,
    &moduleCommands,
    &batchCommands,
    &exportCommands,
    &fileCommands,
    &jobCommands,
};

// The options taken before the command: the tool's own, then those handed on to the command.
constexpr OptionSpec kGlobalOptions[] = {
    {"help", 'h', OptionArgument::None},
    {"version", 0, OptionArgument::None},
    {"port", 0, OptionArgument::Required},
    {"baud", 0, OptionArgument::Required},
    {"data-bits", 0, OptionArgument::Required},
    {"parity", 0, OptionArgument::Required},
    {"stop-bits", 0, OptionArgument::Required},
    {"address", 0, OptionArgument::Required},
    {"address-length", 0, OptionArgument::Required},
    {"converter", 0, OptionArgument::Required},
    {"descriptor", 0, OptionArgument::Required},
    {"no-attributes", 0, OptionArgument::None},
    {"elog", 0, OptionArgument::Required},
    {"json", 0, OptionArgument::None},
    {"quiet", 'q', OptionArgument::None},
    {"verbose", 'v', OptionArgument::None},
};

// The options given before the command, written out again in front of the command's own
// arguments ("--port=/dev/ttyUSB0"), so that a value beginning with '-' stays a value.
std::vector<std::string> handedOnOptions(const ParsedOptions& global) {
  std::vector<std::string> args;
  for (const ParsedOptions::Entry& entry : global.entries) {
    if (entry.name == "help" || entry.name == "version") continue;
    if (entry.values.empty()) args.push_back("--" + entry.name);
    for (const std::string& value : entry.values) args.push_back("--" + entry.name + "=" + value);
  }
  return args;
}

void printHelp(std::FILE* out) {
  std::fprintf(out,
               "Usage: %.*s [OPTIONS] COMMAND [ARGS]\n"
               "Configures and watches the КВТР module over its RS-485 line.\n"
               "\n"
               "Options:\n"
               "  -h, --help     show this help and exit\n"
               "      --version  show the version and exit\n"
               "\n"
               "Commands:\n",
               static_cast<int>(kProgram.size()), kProgram.data());
  for (const auto& group : kCommandGroups) {
    for (const Command& command : group()) {
      const std::string synopsis = std::string(command.name) + " " + std::string(command.usage);
      std::fprintf(out, "  %s\n      %.*s\n", synopsis.c_str(), static_cast<int>(command.summary.size()),
                   command.summary.data());
    }
  }
  std::fprintf(out,
               "\n"
               "'%.*s COMMAND --help' shows the usage of one command; '--' ends the options.\n"
               "Exit status: 0 success, 1 failure, 2 usage error, 200-206 the module's failure flags.\n",
               static_cast<int>(kProgram.size()), kProgram.data());
}

int globalUsageError(std::string_view message) {
  std::fprintf(stderr, "%.*s: %.*s\nUsage: %.*s [OPTIONS] COMMAND [ARGS]\nTry '%.*s --help' for more information.\n",
               static_cast<int>(kProgram.size()), kProgram.data(), static_cast<int>(message.size()), message.data(),
               static_cast<int>(kProgram.size()), kProgram.data(), static_cast<int>(kProgram.size()),
               kProgram.data());
  return kExitUsage;
}

const Command* findCommand(std::string_view name) {
  for (const auto& group : kCommandGroups) {
    for (const Command& command : group()) {
      if (command.name == name) return &command;
    }
  }
  return nullptr;
}

int run(int argc, char** argv) {
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  ParsedOptions global;
  const OptionParseResult parsed = parseOptions(args, kGlobalOptions, global, true);
  if (!parsed.ok) return globalUsageError(parsed.error);
  if (global.has("help")) {
    printHelp(stdout);
    return kExitOk;
  }
  if (global.has("version")) {
    std::printf("%.*s %s\n", static_cast<int>(kProgram.size()), kProgram.data(), KVTR_VERSION);
    return kExitOk;
  }
  if (parsed.next >= args.size()) return globalUsageError("no command given");

  const std::string& name = args[parsed.next];
  const Command* command = findCommand(name);
  if (command == nullptr) return globalUsageError("unknown command '" + name + "'");

  CommandContext context;
  const ParsedOptions none;
  context.global = &none;
  std::vector<std::string> commandArgs = handedOnOptions(global);
  commandArgs.insert(commandArgs.end(), args.begin() + static_cast<std::ptrdiff_t>(parsed.next) + 1, args.end());
  const int code = command->run(context, commandArgs);
  // A failed write to standard output (a closed pipe, a full disk) must not pass for success.
  if (std::fflush(stdout) != 0 && code == kExitOk) return kExitFailure;
  return code;
}

}  // namespace

int usageError(CommandContext& context, const Command& command, std::string_view message) {
  std::fprintf(context.err,
               "%.*s %.*s: %.*s\nUsage: %.*s %.*s %.*s\nTry '%.*s %.*s --help' for more information.\n",
               static_cast<int>(kProgram.size()), kProgram.data(), static_cast<int>(command.name.size()),
               command.name.data(), static_cast<int>(message.size()), message.data(),
               static_cast<int>(kProgram.size()), kProgram.data(), static_cast<int>(command.name.size()),
               command.name.data(), static_cast<int>(command.usage.size()), command.usage.data(),
               static_cast<int>(kProgram.size()), kProgram.data(), static_cast<int>(command.name.size()),
               command.name.data());
  return kExitUsage;
}

int failure(CommandContext& context, const Command& command, std::string_view message) {
  std::fprintf(context.err, "%.*s %.*s: %.*s\n", static_cast<int>(kProgram.size()), kProgram.data(),
               static_cast<int>(command.name.size()), command.name.data(), static_cast<int>(message.size()),
               message.data());
  return kExitFailure;
}

std::optional<int> parseCommandOptions(CommandContext& context, const Command& command,
                                       std::span<const std::string> args, std::span<const OptionSpec> optionSpecs,
                                       ParsedOptions& out) {
  std::vector<OptionSpec> all(optionSpecs.begin(), optionSpecs.end());
  all.push_back({"help", 'h', OptionArgument::None});
  const OptionParseResult parsed = parseOptions(args, all, out);
  if (!parsed.ok) return usageError(context, command, parsed.error);
  if (out.has("help")) {
    std::fprintf(context.out, "Usage: %.*s %.*s %.*s\n%.*s\n", static_cast<int>(kProgram.size()), kProgram.data(),
                 static_cast<int>(command.name.size()), command.name.data(), static_cast<int>(command.usage.size()),
                 command.usage.data(), static_cast<int>(command.summary.size()), command.summary.data());
    return kExitOk;
  }
  return std::nullopt;
}

void printLine(CommandContext& context, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), context.out);
  std::fputc('\n', context.out);
}

}  // namespace kvtr::cli

int main(int argc, char** argv) {
  kvtr::initCatalogue(kvtr::programDirectory());
#ifdef _WIN32
  // The console's code page belongs to the whole console: it is put back for the programs that
  // run after. Output into a file or a pipe is UTF-8 either way.
  const UINT consoleCodePage = ::GetConsoleOutputCP();
  if (consoleCodePage != 0) ::SetConsoleOutputCP(CP_UTF8);
  const int code = kvtr::cli::run(argc, argv);
  if (consoleCodePage != 0) ::SetConsoleOutputCP(consoleCodePage);
  return code;
#else
  return kvtr::cli::run(argc, argv);
#endif
}
