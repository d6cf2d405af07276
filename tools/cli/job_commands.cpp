// Module jobs: the group operations of the configurator from the command line. Each job runs on
// the exchange engine as the program runs it behind its progress window: a progress bar on the
// error stream while it is a terminal, the log lines with --verbose, and the exit code of the
// failure flags (200 + the lowest set flag), or 1 when some parameter failed without setting one.
#include "command.h"


#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/read_job.h"
#include "common/catalogue.h"
#include "common/format.h"
#include "common/strings.h"
#include "common/utf8_path.h"
#include "exchange/exchange_engine.h"
#include "exchange/group_operations.h"
#include "exchange/init_command.h"
#include "exchange/inputs_outputs.h"
#include "exchange/polling.h"
#include "interrupt_scope.h"
#include "json_writer.h"
#include "model/desc_branch.h"
#include "model/parameter_tree.h"
#include "module_session.h"
#include "storage/configuration_file.h"
#include "terminal_progress.h"

namespace kvtr::cli {

namespace {

int runIdentify(CommandContext& context, std::span<const std::string> args);
int runRead(CommandContext& context, std::span<const std::string> args);
int runWrite(CommandContext& context, std::span<const std::string> args);
int runWriteChanged(CommandContext& context, std::span<const std::string> args);
int runCompare(CommandContext& context, std::span<const std::string> args);
int runInit(CommandContext& context, std::span<const std::string> args);
int runSendInit(CommandContext& context, std::span<const std::string> args);
int runPoll(CommandContext& context, std::span<const std::string> args);
int runWatch(CommandContext& context, std::span<const std::string> args);

constexpr const char* kJobOptionsHelp = trMark(
    "Параметры задания:\n"
    "  -v, --verbose      строки журнала задания, как в окне «Прибор <==> программа»\n"
    "  -q, --quiet        без строки хода работы (она выводится, только если поток ошибок — терминал)\n"
    "      --elog ЖУРНАЛ  журнал неудачных обменов: создается пустым, по строке на ошибку\n");

constexpr Command kCommands[] = {
    {"identify", trMark("[параметры порта]"),
     trMark("Спросить прибор, что он такое ('dev') и какая в нем программа ('ver')."), &runIdentify},
    {"read", trMark("ФАЙЛ [--verbose] [--quiet] [--elog ЖУРНАЛ] [параметры порта]"),
     trMark("Прочитать все параметры прибора в файл конфигурации."), &runRead, kJobOptionsHelp},
    {"write", trMark("ФАЙЛ [--verbose] [--quiet] [--elog ЖУРНАЛ] [параметры порта]"),
     trMark("Записать в прибор все параметры файла конфигурации; параметры без данных пропускаются."),
     &runWrite, kJobOptionsHelp},
    {"write-changed", trMark("ФАЙЛ [--verbose] [--quiet] [--elog ЖУРНАЛ] [параметры порта]"),
     trMark("Записать в прибор измененные в файле параметры; файл запоминает, что записано."),
     &runWriteChanged, kJobOptionsHelp},
    {"compare", trMark("ФАЙЛ [--update] [--verbose] [--quiet] [параметры порта]"),
     trMark("Сравнить файл конфигурации с прибором и напечатать отличия; код 3 — отличия есть."), &runCompare,
     trMark("Параметры:\n"
            "  --update       сохранить значения прибора комментариями в файле (значения файла не меняются)\n"
            "  -v, --verbose  строки журнала сравнения\n"
            "  -q, --quiet    без строки хода работы\n"
            "Коды завершения: 0 — прибор и файл совпадают; 3 — найдены отличия; 1 или 200–206 —\n"
            "сравнение не выполнено целиком из-за ошибки.\n")},
    {"init", trMark("--yes [--no-init] [--verbose] [--quiet] [--elog ЖУРНАЛ] [параметры порта]"),
     trMark("Установить заводские значения параметров прибора, затем перезапустить его командой INIT."),
     &runInit,
     trMark("Параметры:\n"
            "  --yes          подтверждение: конфигурация прибора будет потеряна\n"
            "  --no-init      не посылать INIT после установки значений\n"
            "  -v, --verbose  строки журнала задания\n"
            "  -q, --quiet    без строки хода работы\n"
            "  --elog ЖУРНАЛ  журнал неудачных обменов\n")},
    {"send-init", trMark("[параметры порта]"),
     trMark("Послать INIT: прибор перезапускается и принимает значения, которым нужен перезапуск."),
     &runSendInit},
    {"poll", trMark("ИМЯ[:ИНДЕКС] [--period МС] [--count N] [--json] [параметры порта]"),
     trMark("Читать один параметр циклически и печатать каждое значение со временем."), &runPoll,
     trMark("Параметры:\n"
            "  --period МС    период опроса, мс (по умолчанию 1000)\n"
            "  --count N      закончить после N значений (без него — до Ctrl+C)\n"
            "  --json         по объекту JSON в строке\n")},
    {"watch", trMark("[--count N] [--json] [параметры порта]"),
     trMark("Показывать входы, счетчики и выходы прибора, как окно «Состояние входов и выходов»."), &runWatch,
     trMark("Параметры:\n"
            "  --count N      закончить после N опросов (без него — до Ctrl+C)\n"
            "  --json         по объекту JSON в строке\n")},
};

const Command& commandNamed(std::string_view name) {
  for (const Command& command : kCommands) {
    if (command.name == name) return command;
  }
  return kCommands[0];
}

constexpr OptionSpec kVerbose{"verbose", 'v', OptionArgument::None};
constexpr OptionSpec kQuiet{"quiet", 'q', OptionArgument::None};
constexpr OptionSpec kErrorLog{"elog", 0, OptionArgument::Required};
constexpr OptionSpec kUpdate{"update", 0, OptionArgument::None};
constexpr OptionSpec kYes{"yes", 0, OptionArgument::None};
constexpr OptionSpec kNoInit{"no-init", 0, OptionArgument::None};
constexpr OptionSpec kPeriod{"period", 0, OptionArgument::Required};
constexpr OptionSpec kCount{"count", 0, OptionArgument::Required};
constexpr OptionSpec kJson{"json", 0, OptionArgument::None};

// ---------------------------------------------------------------- the job

// Parses the options, loads the descriptor's tree (or the file's), builds and opens the link.
struct Job {
  Job(CommandContext& c, const Command& cmd) : context(c), command(cmd) {}

  CommandContext& context;
  const Command& command;
  ParsedOptions options;
  std::unique_ptr<ModuleSession> session;
  ParameterTree* tree = nullptr;
  std::unique_ptr<ParameterTree> fileTree;
  std::size_t trailingBytes = 0;

  // Returns an exit code when the job must end now.
  std::optional<int> Parse(std::span<const std::string> args, std::initializer_list<OptionSpec> own) {
    const std::vector<OptionSpec> optionSpecs = withPortOptions(own);
    if (auto code = parseCommandOptions(context, command, args, optionSpecs, options)) return code;
    const bool bar = isTerminal(context.err) && !optionGiven(context, options, "quiet");
    session = std::make_unique<ModuleSession>(context.err, bar, optionGiven(context, options, "verbose"));
    return std::nullopt;
  }

  std::optional<int> LoadDescriptorTree() {
    if (!loadTree(context, command, options, *session)) return kExitFailure;
    tree = &session->tree;
    return std::nullopt;
  }

  std::optional<int> OpenFile(const std::filesystem::path& file) {
    OpenOptions open;
    open.loadDescriptor = DescriptorFromFile(descriptorPath(context, options));
    OpenResult opened = OpenConfigurationFile(file, session->ui, open);
    if (!opened.ok() || opened.tree == nullptr || !opened.tree->hasTree()) {
      return failure(context, command,
                     strprintf(trFormat("файл «%s» не прочитан"), utf8FromPath(file).c_str()) +
                         (opened.detail.empty() ? std::string() : " (" + opened.detail + ")"));
    }
    fileTree = std::move(opened.tree);
    tree = fileTree.get();
    trailingBytes = opened.trailingBytes;
    return std::nullopt;
  }

  // A job that saves its file back refuses one with bytes after the configuration before it
  // starts: the save would drop them.
  std::optional<int> RefuseToSaveOver(const std::filesystem::path& file) {
    if (trailingBytes == 0) return std::nullopt;
    return failure(context, command,
                   strprintf(trFormat("файл '%s' не будет перезаписан: после конца конфигурации в нём ещё %zu "
                                      "байт, которые при сохранении были бы потеряны"),
                             utf8FromPath(file).c_str(), trailingBytes));
  }

  std::optional<int> Connect() {
    if (auto code = makeLink(context, command, options, *session)) return code;
    ExchangeEngine& engine = *session->link;
    // A terminal has no window to keep up after the closing line.
    engine.setClosingGrace(Clock::Duration::zero());
    // Nor a reading mode that a failure limit could switch off.
    engine.setAutomaticReading(false);
    if (auto elog = optionValue(context, options, "elog")) {
      // The log is created empty when the job starts, so that it holds this run's failures only.
      const std::filesystem::path log = pathFromUtf8(*elog);
      std::ofstream create(log, std::ios::binary | std::ios::trunc);
      if (!create) return failure(context, command, strprintf(trFormat("не удалось создать журнал ошибок «%s»"), elog->c_str()));
      engine.setErrorLogPath(log);
    }
    if (tree != nullptr) engine.setDeviceNetworkNode(tree->networkSettings());
    return openLink(*session);
  }

  ExchangeEngine& engine() { return *session->link; }

  // Runs a group task on the tree's root and reports failures on the error stream.
  TaskOutcome Run(TaskKind kind) {
    TaskOutcome outcome;
    InterruptScope interrupt(&engine(), nullptr);
    if (!engine().BeginTask(kind, tree->root())) {
      outcome.interrupted = true;
      return outcome;
    }
    (void)engine().WaitForTask(Clock::kInfinite, &outcome);
    for (const TaskMessage& m : outcome.messages) session->ui.showMessage(m.text, m.caption, m.icon);
    // Values the value rules kept from the module, each with its parameter and the reason.
    for (const std::string& refused : engine().operations().refusedValues()) {
      std::fprintf(context.err, "kvtr %.*s: %s\n", static_cast<int>(command.name.size()), command.name.data(),
                   refused.c_str());
    }
    return outcome;
  }

  // The last line of a job that did not end cleanly. A clean job says nothing; parameters passed
  // over for lack of data are named by their count.
  void PrintVerdict(const TaskOutcome& outcome) {
    const int nameSize = static_cast<int>(command.name.size());
    const bool stoppedByOperator = (engine().state().linkStatus.load() & link_status::kInterrupted) != 0;
    if (outcome.interrupted && stoppedByOperator) {
      std::fprintf(context.err, trFormat("kvtr %.*s: задание прервано\n"), nameSize, command.name.data());
    } else if (outcome.interrupted) {
      // The failure limit stopped the task: the module does not answer.
      std::fprintf(context.err,
                   trFormat("kvtr %.*s: задание не выполнено: обмен остановлен после ошибок (ошибки у %d из %d "
                            "обработанных параметров)\n"),
                   nameSize, command.name.data(), outcome.counts.failed, outcome.counts.visited);
    } else if (outcome.counts.failed > 0) {
      std::fprintf(context.err, trFormat("kvtr %.*s: задание не выполнено: ошибки обмена у %d из %d параметров\n"),
                   nameSize, command.name.data(), outcome.counts.failed, outcome.counts.visited);
    } else if (outcome.counts.passedOver > 0) {
      std::fprintf(context.err, trFormat("kvtr %.*s: задание выполнено; пропущено параметров без данных: %d\n"),
                   nameSize, command.name.data(), outcome.counts.passedOver);
    }
  }

  // The verdict, then the exit code.
  int Finish(const TaskOutcome& outcome) {
    PrintVerdict(outcome);
    return ExitCode(outcome);
  }

  int ExitCode(const TaskOutcome& outcome) {
    return exitCodeAfter(*session, outcome.counts.failed + (outcome.interrupted ? 1 : 0));
  }
};

// One FILE operand.
std::optional<int> takeFile(Job& job, std::filesystem::path& file) {
  if (job.options.operands.size() != 1) return usageError(job.context, job.command, tr("нужен один файл конфигурации"));
  file = pathFromUtf8(job.options.operands[0]);
  return std::nullopt;
}

// ---------------------------------------------------------------- identify

int runIdentify(CommandContext& context, std::span<const std::string> args) {
  Job job(context, commandNamed("identify"));
  if (auto code = job.Parse(args, {})) return *code;
  if (!job.options.operands.empty()) return usageError(context, job.command, tr("аргументы не нужны"));
  if (auto code = job.Connect()) return *code;
  const DeviceIdentity id = job.engine().operations().Identify(false);
  if (!id.info.empty()) printLine(context, id.info);
  if (!id.errors.empty()) std::fprintf(context.err, "%s\n", std::string(trimRight(id.errors)).c_str());
  if (id.result == 3) return kExitOk;
  // Another device answered: the failure flag of the connection check.
  if (id.result == 2) job.engine().state().linkStatus.store(link_status::kOtherDevice);
  return exitCodeAfter(*job.session, 1);
}

// ---------------------------------------------------------------- read, write, write-changed

int runRead(CommandContext& context, std::span<const std::string> args) {
  Job job(context, commandNamed("read"));
  if (auto code = job.Parse(args, {kVerbose, kQuiet, kErrorLog})) return *code;
  std::filesystem::path file;
  if (auto code = takeFile(job, file)) return *code;
  // A read whose result cannot be saved is refused before the module is read.
  if (const std::string refusal = CheckReadJobFile(file); !refusal.empty()) {
    return failure(context, job.command, refusal);
  }
  if (auto code = job.LoadDescriptorTree()) return *code;
  if (auto code = job.Connect()) return *code;
  const TaskOutcome outcome = job.Run(TaskKind::ReadAll);
  // Saved, or the file there kept, as the program's read job does it (app/read_job.h).
  const std::uint32_t status = job.engine().state().linkStatus.load();
  const bool whole = ReadJobEndedWhole(outcome, status);
  const ReadJobSaveResult saved = SaveReadJobResult(*job.tree, file, whole, status == link_status::kInterrupted);
  if (saved.status == ReadJobSave::Failed) return failure(context, job.command, saved.message);
  if (!saved.message.empty()) std::fprintf(context.err, "%s\n", saved.message.c_str());
  job.PrintVerdict(outcome);
  // Not whole: the failure's flag, or 1. A flag set by an exchange that then succeeded counts
  // too, as it does for the program's read job.
  return whole ? kExitOk : exitCodeAfter(*job.session, 1);
}

// A write job needs its file: one that is missing or empty ends it with the failure flag 1.
std::optional<int> requireFile(Job& job, const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec) || std::filesystem::file_size(file, ec) == 0 || ec) {
    processLinkState().linkStatus.store(link_status::kWriteJobWithoutFile);
    std::fprintf(job.context.err, trFormat("kvtr %.*s: файла «%s» нет или он пуст\n"),
                 static_cast<int>(job.command.name.size()), job.command.name.data(), utf8FromPath(file).c_str());
    return exitCodeOfLinkStatus(link_status::kWriteJobWithoutFile);
  }
  return std::nullopt;
}

int runWriteJob(CommandContext& context, std::span<const std::string> args, std::string_view name, TaskKind kind) {
  Job job(context, commandNamed(name));
  if (auto code = job.Parse(args, {kVerbose, kQuiet, kErrorLog})) return *code;
  std::filesystem::path file;
  if (auto code = takeFile(job, file)) return *code;
  if (auto code = requireFile(job, file)) return *code;
  if (auto code = job.OpenFile(file)) return *code;
  if (kind == TaskKind::WriteChanged) {
    if (auto code = job.RefuseToSaveOver(file)) return *code;
  }
  if (auto code = job.Connect()) return *code;
  const TaskOutcome outcome = job.Run(kind);
  if (kind == TaskKind::WriteChanged && outcome.counts.visited > 0) {
    // The file keeps the change marks of what could not be written, and loses those of what was.
    std::string error;
    if (!SaveConfigurationFile(*job.tree, file, &error)) return failure(context, job.command, error);
  }
  if (job.engine().state().networkSettingsWritten.load()) {
    std::fprintf(context.err, trFormat("kvtr %.*s: новые сетевые настройки прибор примет только после «kvtr apply»\n"),
                 static_cast<int>(name.size()), name.data());
  }
  return job.Finish(outcome);
}

int runWrite(CommandContext& context, std::span<const std::string> args) {
  return runWriteJob(context, args, "write", TaskKind::WriteAll);
}

int runWriteChanged(CommandContext& context, std::span<const std::string> args) {
  return runWriteJob(context, args, "write-changed", TaskKind::WriteChanged);
}

// ---------------------------------------------------------------- compare

int runCompare(CommandContext& context, std::span<const std::string> args) {
  Job job(context, commandNamed("compare"));
  if (auto code = job.Parse(args, {kVerbose, kQuiet, kUpdate})) return *code;
  std::filesystem::path file;
  if (auto code = takeFile(job, file)) return *code;
  if (auto code = job.OpenFile(file)) return *code;
  if (optionGiven(context, job.options, "update")) {
    if (auto code = job.RefuseToSaveOver(file)) return *code;
  }
  if (auto code = job.Connect()) return *code;
  const TaskOutcome outcome = job.Run(TaskKind::Compare);
  printLine(context, job.engine().operations().CompareResultText());
  if (optionGiven(context, job.options, "update")) {
    std::string error;
    if (!SaveConfigurationFile(*job.tree, file, &error)) return failure(context, job.command, error);
  }
  // A failed exchange says more than the differences found before it; a whole compare tells a
  // script by its code alone whether the module and the file agree.
  const int code = job.Finish(outcome);
  if (code == kExitOk && job.engine().operations().differenceCount() > 0) return kExitDifferences;
  return code;
}

// ---------------------------------------------------------------- init, send-init

// INIT restarts the module; it takes a moment before it answers again.
int sendInit(Job& job) {
  std::string error;
  if (SendInit(job.engine(), job.engine().clock(), &error) != 0) {
    job.session->ui.showMessage(error, "", MessageIcon::None);
    return exitCodeAfter(*job.session, 1);
  }
  return kExitOk;
}

int runInit(CommandContext& context, std::span<const std::string> args) {
  Job job(context, commandNamed("init"));
  if (auto code = job.Parse(args, {kVerbose, kQuiet, kErrorLog, kYes, kNoInit})) return *code;
  if (!job.options.operands.empty()) return usageError(context, job.command, tr("аргументы не нужны"));
  if (!optionGiven(context, job.options, "yes")) {
    std::fprintf(context.err, "%s\n", std::string(kSetDefaultsQuestionText).c_str());
    return usageError(context, job.command, tr("подтвердите параметром --yes"));
  }
  if (auto code = job.LoadDescriptorTree()) return *code;
  if (auto code = job.Connect()) return *code;
  const TaskOutcome outcome = job.Run(TaskKind::Initialise);
  const int code = job.Finish(outcome);
  if (code != kExitOk || optionGiven(context, job.options, "no-init")) return code;
  return sendInit(job);
}

int runSendInit(CommandContext& context, std::span<const std::string> args) {
  Job job(context, commandNamed("send-init"));
  if (auto code = job.Parse(args, {})) return *code;
  if (!job.options.operands.empty()) return usageError(context, job.command, tr("аргументы не нужны"));
  if (auto code = job.Connect()) return *code;
  return sendInit(job);
}

// ---------------------------------------------------------------- poll

std::string localTimeText(std::chrono::system_clock::time_point t) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
  std::tm local{};
#ifdef _WIN32
  ::localtime_s(&local, &seconds);
#else
  ::localtime_r(&seconds, &local);
#endif
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
  return strprintf("%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms));
}

// The parameter NAME or NAME:INDEX of the tree (the root branch, then the scanners branch).
Parameter* findInTree(ParameterTree& tree, std::string_view text) {
  std::string_view name = text;
  std::optional<int> index;
  if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos && colon > 0) {
    const DecimalReading r = ReadDecimal(text.substr(colon + 1), false);
    if (r.ok && r.consumed == text.size() - colon - 1 && r.value >= 0) {
      name = text.substr(0, colon);
      index = static_cast<int>(r.value);
    }
  }
  Parameter* found = nullptr;
  for (DescBranch* top : {tree.root(), tree.scanners()}) {
    if (top == nullptr || found != nullptr) continue;
    ParameterTree::ForEachParameter(*top, [&](Parameter& p) {
      if (found != nullptr || !equalsNoCase(p.name, name)) return;
      if (index ? (p.hasIndex && p.index == *index) : !p.hasIndex) found = &p;
    });
  }
  return found;
}

std::optional<int> countOption(Job& job, int& count) {
  count = 0;
  if (auto text = optionValue(job.context, job.options, "count")) {
    const DecimalReading r = ReadDecimal(*text, false);
    if (!r.ok || r.consumed != text->size() || r.value < 1 || r.value > 1e9) {
      return usageError(job.context, job.command, tr("--count принимает целое число не меньше 1"));
    }
    count = static_cast<int>(r.value);
  }
  return std::nullopt;
}

// How a cyclic reading ends besides its count: the port went away, or the module stopped
// answering for the program's failure limit of reads in a row. The printers below notice it on
// the polling thread; the command reports it once the polling has stopped.
struct LinkLoss {
  bool portLost = false;
  int streak = 0;  // reads in a row without an answer, when the limit ended the reading

  // Looks at one read: true when the reading must end.
  bool Check(const ExchangeEngine& engine, int result, std::string_view comment, int& runningStreak) {
    if (result == 0) {
      runningStreak = 0;
      return false;
    }
    if (engine.portLost()) {
      portLost = true;
      return true;
    }
    if (equalsNoCase(trimRight(comment), kTimeoutText) || result == kTransactPortClosed) ++runningStreak;
    else runningStreak = 0;
    if (runningStreak < kFailureLimit) return false;
    streak = runningStreak;
    return true;
  }
  [[nodiscard]] bool ended() const { return portLost || streak > 0; }
};

// Tells why a reading ended early, with the exit code of the failure.
int reportLinkLoss(Job& job, const LinkLoss& loss) {
  ExchangeEngine& engine = job.engine();
  if (loss.portLost) {
    job.session->ui.showMessage(engine.PortFailureText(), tr(kPortDriverCaption.data()), MessageIcon::Stop);
  } else {
    job.session->ui.showMessage(ReadFailureLimitText(loss.streak, false), tr(kApplicationCaption.data()),
                                MessageIcon::Stop);
  }
  return exitCodeAfter(*job.session, 1);
}

class PollPrinter final : public ScanResultSink {
 public:
  PollPrinter(CommandContext& context, const ExchangeEngine& engine, std::string shownName, bool json, int count,
              Event& done)
      : context_(context), engine_(engine), name_(std::move(shownName)), json_(json), count_(count), done_(done) {}

  void scanResult(const ScanResult& r) override {
    std::lock_guard lock(mutex_);
    if ((count_ > 0 && printed_ >= count_) || loss_.ended()) return;
    const std::string time = localTimeText(r.scanEnd);
    if (json_) {
      std::string line = "{\"time\":" + jsonQuoted(time) + ",\"name\":" + jsonQuoted(name_);
      line += r.result == 0 ? ",\"value\":" + jsonQuoted(r.valueText) : ",\"error\":" + jsonQuoted(r.errorText);
      printLine(context_, line + "}");
    } else if (r.result == 0) {
      printLine(context_, time + " " + name_ + " = " + r.valueText);
    } else {
      std::fprintf(context_.err, "%s %s: %s\n", time.c_str(), name_.c_str(), std::string(trimRight(r.errorText)).c_str());
    }
    std::fflush(context_.out);
    if (r.result != 0) ++failed_;
    if (loss_.Check(engine_, r.result, r.errorText, streak_)) done_.set();
    if (count_ > 0 && ++printed_ >= count_) done_.set();
  }
  int failed() const {
    std::lock_guard lock(mutex_);
    return failed_;
  }
  LinkLoss loss() const {
    std::lock_guard lock(mutex_);
    return loss_;
  }

 private:
  CommandContext& context_;
  const ExchangeEngine& engine_;
  const std::string name_;
  const bool json_;
  const int count_;
  Event& done_;
  mutable std::mutex mutex_;
  int printed_ = 0;
  int failed_ = 0;
  int streak_ = 0;
  LinkLoss loss_;
};

int runPoll(CommandContext& context, std::span<const std::string> args) {
  Job job(context, commandNamed("poll"));
  if (auto code = job.Parse(args, {kPeriod, kCount, kJson})) return *code;
  if (job.options.operands.size() != 1) return usageError(context, job.command, tr("нужен один параметр"));
  int period = 1000;
  if (auto text = optionValue(context, job.options, "period")) {
    if (!AcceptScanPeriod(*text, period)) return usageError(context, job.command, std::string(kScanPeriodRefusedText));
  }
  int count = 0;
  if (auto code = countOption(job, count)) return *code;
  if (auto code = job.LoadDescriptorTree()) return *code;
  const std::string& shown = job.options.operands[0];
  Parameter* p = findInTree(*job.tree, shown);
  if (p == nullptr) return failure(context, job.command, strprintf(trFormat("в дереве нет параметра «%s»"), shown.c_str()));
  if (auto code = job.Connect()) return *code;

  ExchangeEngine& engine = job.engine();
  Event done(EventReset::Manual);
  PollPrinter printer(context, engine, shown, optionGiven(context, job.options, "json"), count, done);
  Polling& polling = engine.polling();
  polling.setResultSink(&printer);
  if (!p->isPolled()) (void)CreateScanner(*p, engine.clock());
  p->scanPeriodMs = period;
  (void)polling.ArmScanner(*p);
  {
    InterruptScope interrupt(nullptr, &done);
    if (polling.StartScanThread(std::vector<Parameter*>{p}) != 0) {
      return failure(context, job.command, tr(kScanThreadFailedText.data()));
    }
    (void)done.wait();
  }
  (void)engine.Shutdown();
  polling.setResultSink(nullptr);
  if (printer.loss().ended()) return reportLinkLoss(job, printer.loss());
  return exitCodeAfter(*job.session, printer.failed());
}

// ---------------------------------------------------------------- watch

std::string lookName(IndicatorLook look) {
  switch (look) {
    case IndicatorLook::Orange: return "on";
    case IndicatorLook::LightGreen: return "on";
    case IndicatorLook::Hatched: return "pwm";
    case IndicatorLook::Default: return "off";
  }
  return "off";
}

// The window's three groups in three lines; on a terminal they are redrawn in place.
std::vector<std::string> watchLines(const IoSnapshot& s) {
  std::string inputs = tr("Входы:   ");
  for (int k = 0; k < kInputIndicatorCount; ++k) {
    inputs += strprintf(" %d:%s", k + 1, InputIndicatorLook(s.inputs[k]) == IndicatorLook::Orange ? "1" : "0");
  }
  std::string counters = tr("Счетчики:");
  for (const IoCell& c : s.counters) counters += strprintf(" %d=", c.index + 1) + c.value;
  std::string outputs = tr("Выходы:  ");
  for (const IoCell& c : s.outputs) {
    outputs += strprintf(" %d=", c.index + 1) + c.value;
    if (c.index < kOutputIndicatorCount) {
      const IndicatorLook look = OutputIndicatorLook(s.outputStates[c.index]);
      if (look == IndicatorLook::Hatched) outputs += tr("(ШИМ)");
    }
  }
  return {inputs, counters, outputs};
}

// While the module does not answer, its last values are not shown as if they were live.
std::string notAnsweringText(const IoSnapshot& s) { return tr("Прибор не отвечает: ") + s.failure; }

std::string watchJson(const IoSnapshot& s) {
  if (!s.failure.empty()) {
    return strprintf("{\"tick\":%llu,\"error\":", static_cast<unsigned long long>(s.ticks)) + jsonQuoted(s.failure) +
           "}";
  }
  std::string line = strprintf("{\"tick\":%llu,\"inputs\":[", static_cast<unsigned long long>(s.ticks));
  for (int k = 0; k < kInputIndicatorCount; ++k) line += (k ? "," : "") + std::string(s.inputs[k] == "1" ? "1" : "0");
  line += "],\"counters\":[";
  for (std::size_t i = 0; i < s.counters.size(); ++i) {
    line += (i ? "," : "") + strprintf("{\"index\":%d,\"value\":", s.counters[i].index) +
            jsonQuoted(s.counters[i].value) + "}";
  }
  line += "],\"outputs\":[";
  for (std::size_t i = 0; i < s.outputs.size(); ++i) {
    const IoCell& c = s.outputs[i];
    std::string look = "off";
    if (c.index < kOutputIndicatorCount) look = lookName(OutputIndicatorLook(s.outputStates[c.index]));
    line += (i ? "," : "") + strprintf("{\"index\":%d,\"value\":", c.index) + jsonQuoted(c.value) +
            ",\"state\":\"" + look + "\"}";
  }
  return line + "]}";
}

class WatchPrinter final : public IoListener {
 public:
  WatchPrinter(CommandContext& context, const ExchangeEngine& engine, bool json, bool redraw, int count, Event& done)
      : context_(context), engine_(engine), json_(json), redraw_(redraw), count_(count), done_(done) {}

  void ioStateChanged(const IoSnapshot& s) override {
    std::lock_guard lock(mutex_);
    if ((count_ > 0 && printed_ >= count_) || loss_.ended()) return;
    if (json_) {
      printLine(context_, watchJson(s));
    } else {
      // A terminal is redrawn in place; anything else gets the lines again only when they change.
      const std::vector<std::string> lines =
          s.failure.empty() ? watchLines(s) : std::vector<std::string>{notAnsweringText(s)};
      if (lines != last_ || redraw_) {
        // Cursor to the first of the lines drawn before, each line erased before it is written.
        if (redraw_ && !last_.empty()) std::fprintf(context_.out, "\x1b[%zuF", last_.size());
        for (const std::string& line : lines) std::fprintf(context_.out, "%s%s\n", redraw_ ? "\x1b[2K" : "", line.c_str());
        last_ = lines;
      }
    }
    std::fflush(context_.out);
    // The monitor counts the reads in a row that got no answer.
    if (!s.failure.empty()) {
      if (engine_.portLost()) loss_.portLost = true;
      else if (s.failureStreak >= kFailureLimit) loss_.streak = s.failureStreak;
      if (loss_.ended()) done_.set();
    }
    if (count_ > 0 && ++printed_ >= count_) done_.set();
  }
  LinkLoss loss() {
    std::lock_guard lock(mutex_);
    return loss_;
  }

 private:
  CommandContext& context_;
  const ExchangeEngine& engine_;
  const bool json_;
  const bool redraw_;
  const int count_;
  Event& done_;
  std::mutex mutex_;
  std::vector<std::string> last_;
  int printed_ = 0;
  LinkLoss loss_;
};

int runWatch(CommandContext& context, std::span<const std::string> args) {
  Job job(context, commandNamed("watch"));
  if (auto code = job.Parse(args, {kCount, kJson})) return *code;
  if (!job.options.operands.empty()) return usageError(context, job.command, tr("аргументы не нужны"));
  int count = 0;
  if (auto code = countOption(job, count)) return *code;
  if (auto code = job.LoadDescriptorTree()) return *code;
  if (job.tree->scanners() == nullptr) return failure(context, job.command, tr("в описателе нет ветви сканеров"));
  if (auto code = job.Connect()) return *code;

  Event done(EventReset::Manual);
  const bool json = optionGiven(context, job.options, "json");
  WatchPrinter printer(context, job.engine(), json, !json && isTerminal(context.out), count, done);
  InputsOutputsMonitor monitor(job.engine(), *job.tree->scanners());
  monitor.setListener(&printer);
  {
    InterruptScope interrupt(nullptr, &done);
    if (!monitor.Start()) return failure(context, job.command, tr("не удалось запустить опрос"));
    (void)done.wait();
    // A read under way ends at once: the watch is over.
    Event& stop = job.engine().serialPort().stopEvent();
    stop.set();
    monitor.Stop();
    stop.reset();
  }
  monitor.setListener(nullptr);
  if (printer.loss().ended()) return reportLinkLoss(job, printer.loss());
  return kExitOk;
}

}  // namespace

std::span<const Command> jobCommands() { return kCommands; }

}  // namespace kvtr::cli
