// kvtr: the command-line tool of the КВТР configurator.
//   kvtr [OPTIONS] COMMAND [ARGS] [OPTIONS]
// --help and --version are the tool's own; the options every module or file command shares (the
// port settings, the descriptor, --json, --quiet ...) may also stand before the command name, and
// are handed to the command as if written after it, so that the command alone decides whether
// it takes them. Texts go out as UTF-8: the terminal's encoding on POSIX; on Windows the console is switched
// to it, and the program's manifest makes the arguments arrive in it.
#include "command.h"
#include "common/catalogue.h"
#include "common/format.h"
#include "common/program_directory.h"
#include "common/utf8_path.h"

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

constexpr const char* kProgram = "kvtr";

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
  std::fprintf(out, trFormat("Использование: %s [ПАРАМЕТРЫ] КОМАНДА [АРГУМЕНТЫ] [ПАРАМЕТРЫ]\n"), kProgram);
  std::fputs(tr("Настраивает модуль КВТР и следит за ним по линии RS-485.\n"
                "\n"
                "Параметры программы:\n"
                "  -h, --help     показать эту справку и выйти\n"
                "      --version  показать версию и выйти\n"
                "\n"),
             out);
  std::fputs(portOptionsHelp(), out);
  std::fputs(tr("\n"
                "Параметры заданий (перед командой или после нее):\n"
                "  -v, --verbose      строки журнала задания в поток ошибок\n"
                "  -q, --quiet        без строки хода работы\n"
                "      --elog ЖУРНАЛ  журнал неудачных обменов (создается пустым)\n"
                "      --json         вывод в формате JSON (show, tree, poll, watch)\n"
                "\n"
                "Команды:\n"),
             out);
  for (const auto& group : kCommandGroups) {
    for (const Command& command : group()) {
      std::fprintf(out, "  %.*s %s\n      %s\n", static_cast<int>(command.name.size()), command.name.data(),
                   tr(command.usage.data()), tr(command.summary.data()));
    }
  }
  std::fprintf(out,
               trFormat("\n"
                        "«%s КОМАНДА --help» показывает справку по одной команде; «--» заканчивает параметры.\n"
                        "Коды завершения: 0 — успех; 1 — иная ошибка (файл, описатель, обмен без признака\n"
                        "ошибки); 2 — ошибка в командной строке; 3 — compare нашел отличия; 200–206 — признаки\n"
                        "ошибок задания: 200 нет файла для записи, 201 порт не открылся, 202 прибор не отвечает,\n"
                        "203 ошибки линии, 204 прибор ответил кодом ошибки, 205 прервано, 206 ответил другой\n"
                        "прибор.\n"),
               kProgram);
}

int globalUsageError(std::string_view message) {
  std::fprintf(stderr,
               trFormat("%s: %.*s\nИспользование: %s [ПАРАМЕТРЫ] КОМАНДА [АРГУМЕНТЫ] [ПАРАМЕТРЫ]\n"
                        "Подробнее: «%s --help».\n"),
               kProgram, static_cast<int>(message.size()), message.data(), kProgram, kProgram);
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

int run(const std::vector<std::string>& arguments) {
  const std::vector<std::string> args(arguments.begin() + std::min<std::ptrdiff_t>(std::ssize(arguments), 1), arguments.end());
  ParsedOptions global;
  const OptionParseResult parsed = parseOptions(args, kGlobalOptions, global, true);
  if (!parsed.ok) return globalUsageError(parsed.error);
  if (global.has("help")) {
    printHelp(stdout);
    return kExitOk;
  }
  if (global.has("version")) {
    std::printf("%s %s\n", kProgram, KVTR_VERSION);
    return kExitOk;
  }
  if (parsed.next >= args.size()) return globalUsageError(tr("не задана команда"));

  const std::string& name = args[parsed.next];
  const Command* command = findCommand(name);
  if (command == nullptr) return globalUsageError(strprintf(trFormat("неизвестная команда «%s»"), name.c_str()));

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
  const int nameSize = static_cast<int>(command.name.size());
  std::fprintf(context.err,
               trFormat("%s %.*s: %.*s\nИспользование: %s %.*s %s\nПодробнее: «%s %.*s --help».\n"), kProgram,
               nameSize, command.name.data(), static_cast<int>(message.size()), message.data(), kProgram, nameSize,
               command.name.data(), tr(command.usage.data()), kProgram, nameSize, command.name.data());
  return kExitUsage;
}

int failure(CommandContext& context, const Command& command, std::string_view message) {
  std::fprintf(context.err, "%s %.*s: %.*s\n", kProgram, static_cast<int>(command.name.size()), command.name.data(),
               static_cast<int>(message.size()), message.data());
  return kExitFailure;
}

const char* portOptionsHelp() {
  return tr(
      "Параметры порта (перед командой или после нее). Не заданные берутся из сохраненных настроек\n"
      "порта: их сохраняют конфигуратор, «kvtr scan» и «kvtr apply»; пока ничего не сохранено —\n"
      "COM1, 9600 бод, 8 бит данных, без четности, 1 стоп-бит, адрес 16, длина адреса 8 бит.\n"
      "Заданные действуют только в этом запуске.\n"
      "  --port ПОРТ             последовательный порт: /dev/ttyUSB0, ttyUSB0 или COMn; или порт\n"
      "                          шлюза Ethernet — RS-485: tcp://УЗЕЛ:ПОРТ (шлюз в режиме «TCP-сервер»,\n"
      "                          настройки линии заданы в самом шлюзе) или rfc2217://УЗЕЛ:ПОРТ\n"
      "                          (скорость, четность и стоп-биты шлюзу задает программа); через\n"
      "                          шлюз таймаут ответа на 100 мс больше\n"
      "  --baud N                скорость линии, бод (2400 … 115200)\n"
      "  --data-bits 7|8         длина слова данных, бит\n"
      "  --parity none|even|odd  четность: нет, четная, нечетная\n"
      "  --stop-bits 1|2         число стоп-бит\n"
      "  --address A             адрес прибора: 0 … 255, при 11-битной адресации 0 … 2047\n"
      "  --address-length 8|11   длина адреса, бит\n"
      "  --converter auto|semi   преобразователь RS-485: auto — переключает линию сам (по умолчанию),\n"
      "                          semi — направлением управляет программа линией RTS\n"
      "  --no-attributes         не передавать атрибуты параметров\n"
      "  --descriptor ПУТЬ       файл описателя вместо kvtr.tree.dat рядом с программой\n");
}

std::optional<int> parseCommandOptions(CommandContext& context, const Command& command,
                                       std::span<const std::string> args, std::span<const OptionSpec> optionSpecs,
                                       ParsedOptions& out) {
  std::vector<OptionSpec> all(optionSpecs.begin(), optionSpecs.end());
  all.push_back({"help", 'h', OptionArgument::None});
  const OptionParseResult parsed = parseOptions(args, all, out);
  if (!parsed.ok) return usageError(context, command, parsed.error);
  if (out.has("help")) {
    std::fprintf(context.out, trFormat("Использование: %s %.*s %s\n%s\n"), kProgram,
                 static_cast<int>(command.name.size()), command.name.data(), tr(command.usage.data()),
                 tr(command.summary.data()));
    if (command.details != nullptr) std::fprintf(context.out, "\n%s", tr(command.details));
    const bool takesPort = std::any_of(optionSpecs.begin(), optionSpecs.end(),
                                       [](const OptionSpec& o) { return o.longName == "port"; });
    if (takesPort) std::fprintf(context.out, "\n%s", portOptionsHelp());
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
  const int code = kvtr::cli::run(kvtr::utf8Arguments(argc, argv));
  if (consoleCodePage != 0) ::SetConsoleOutputCP(consoleCodePage);
  return code;
#else
  return kvtr::cli::run(kvtr::utf8Arguments(argc, argv));
#endif
}
