// Unattended jobs: `kvtr batch` takes the desktop program's own command line ("/read", "/write",
// "/port:3/bps:9600", "-elog:FILE", "/exitevent:NAME", the configuration file) and runs it
// without windows, with the same parsing, jobs and exit codes; `kvtr signal-exit` sets the exit
// event of such a run.
//
// Without windows nothing stays open once the job has ended, so a batch run always ends then, as
// if "/close" were given. A run without any option has no job: it loads the configuration, checks
// the connection and ends.
#include "command.h"
#include "descriptor_option.h"
#include "interrupt_scope.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/named_event.h"
#include "app/settings_store.h"
#include "app/user_interface.h"
#include "model/descriptor_loader.h"

namespace kvtr::cli {

namespace {

int runBatch(CommandContext& context, std::span<const std::string> args);
int runSignalExit(CommandContext& context, std::span<const std::string> args);

constexpr Command kCommands[] = {
    {"batch", "[/read | /write] [/OPTION[:VALUE]...] [FILE]",
     "Run the desktop program's command line without windows: read the module into FILE or write FILE into "
     "it; exit 0, or 200-206 by the failure flags.",
     &runBatch},
    {"signal-exit", "NAME", "Set the exit event NAME of a running batch job (\"/exitevent:NAME\"), which then ends "
                            "with exit code 205.",
     &runSignalExit},
};

const Command& commandNamed(std::string_view name) {
  for (const Command& command : kCommands) {
    if (command.name == name) return command;
  }
  return kCommands[0];
}

constexpr std::string_view kBatchHelp =
    "Options are written as the desktop program takes them: an argument that begins with '/' or '-'\n"
    "holds options separated by '/', each KEY or KEY:VALUE, keys in any letter case:\n"
    "  read, write            the job: read the module into FILE, or write FILE into the module\n"
    "  port:N | port:PATH     COM port number, or a device path; bps:N, len:N, sbit:TEXT,\n"
    "  prty:even|odd|no       alen:N, addr:TEXT set the port (and are stored for later runs)\n"
    "  rs485:auto|off|on      the converter: off automatic, auto and on semi-automatic\n"
    "  aply                   a written network setting is followed by APLY\n"
    "  elog:FILE              append failed exchanges to FILE (created empty at once)\n"
    "  exitevent:NAME         'kvtr signal-exit NAME' ends the run with exit code 205\n"
    "  silent, test, close, calibrate, autoread:on|off, autowrite:on|off, x, y, w, h\n"
    "On POSIX an argument that begins with '/' is a file when any of its parts is not a key\n"
    "('/home/user/Module A.kvtr'); values of elog, exitevent and port:PATH run to the end of\n"
    "their argument. Relative paths are taken from the current folder.\n"
    "Exit status: 0 success; 200 no file to write; 201 port not opened; 202 no answer;\n"
    "203 line errors; 204 module error reply; 205 interrupted; 206 another device;\n"
    "1 any other failure (the descriptor, the configuration file).\n";

// The main window of a run without windows: the job's command and close requests are queued
// here and run on the main thread, as the window's messages would be.
class HeadlessShell final : public ApplicationShell {
 public:
  ConnectionChoice ShowConnectionDialog(ExchangeEngine&) override { return ConnectionChoice::Exit; }

  bool PostCommand(int command) override {
    if (command != kCommandReadAll && command != kCommandWriteAll) return false;
    {
      std::lock_guard lock(mutex_);
      commands_.push_back(command);
    }
    wake_.notify_all();
    return true;
  }
  void RequestClose() override { Close(); }
  // Nothing stays open after the job.
  void UnlockWindow() override { Close(); }

  // Runs the queued commands until a close request; a command still queued then is dropped,
  // since the program is closing.
  void Run(Application& application) {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return close_ || !commands_.empty(); });
      if (close_) return;
      const int command = commands_.front();
      commands_.pop_front();
      lock.unlock();
      (void)application.RunCommand(command);
      lock.lock();
    }
  }

 private:
  void Close() {
    {
      std::lock_guard lock(mutex_);
      close_ = true;
    }
    wake_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<int> commands_;
  bool close_ = false;
};

int runBatch(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("batch");
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fprintf(context.out, "Usage: kvtr batch %.*s\n%.*s\n\n%.*s", static_cast<int>(command.usage.size()),
                 command.usage.data(), static_cast<int>(command.summary.size()), command.summary.data(),
                 static_cast<int>(kBatchHelp.size()), kBatchHelp.data());
    return kExitOk;
  }

  std::error_code ec;
  TerminalMessages ui(context.err);
  HeadlessShell shell;
  std::unique_ptr<SettingsStore> store = openSettingsStore();

  ApplicationOptions options;
  options.arguments.assign(args.begin(), args.end());
  options.workingDirectory = std::filesystem::current_path(ec);
  options.descriptorFile = FindDescriptorFile(programDirectory());
  options.settings = store.get();
  options.ui = &ui;
  options.shell = &shell;
  // There is no progress window to keep up after a task.
  options.closingGrace = Clock::Duration::zero();

  int code = kExitOk;
  {
    Application application(std::move(options));
    // Ctrl+C ends the run as the exit event does: the job stops, exit code 205. A second one
    // ends the program at once.
    InterruptScope interrupt(nullptr, &application.stopRequest());
    const Application::StartResult started = application.Start();
    if (started == Application::StartResult::Run && application.commandLine().options.batchMode()) {
      shell.Run(application);
    }
    application.MainFrameDestroyed();
    for (const std::string& warning : application.warnings()) {
      std::fprintf(context.err, "kvtr batch: %s\n", warning.c_str());
    }
    code = application.ExitCode(kExitOk);
  }
  return code;
}

int runSignalExit(CommandContext& context, std::span<const std::string> args) {
  const Command& command = commandNamed("signal-exit");
  ParsedOptions options;
  if (auto code = parseCommandOptions(context, command, args, {}, options)) return *code;
  if (options.operands.size() != 1) return usageError(context, command, "one event name expected");
  std::string error;
  if (!SetNamedEvent(options.operands[0], &error)) return failure(context, command, error);
  return kExitOk;
}

}  // namespace

std::span<const Command> batchCommands() { return kCommands; }

}  // namespace kvtr::cli
