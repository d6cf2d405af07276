// Unattended jobs: `kvtr batch` takes the desktop program's own command line ("/read", "/write",
// "/port:3/bps:9600", "-elog:FILE", "/exitevent:NAME", the configuration file) and runs it
// without windows, with the same parsing, jobs and exit codes; `kvtr signal-exit` sets the exit
// event of such a run.
//
// Without windows nothing stays open once the job has ended, so a batch run always ends then, as
// if "/close" were given. A run without any option has no job: it loads the configuration, checks
// the connection and ends.
#include "command.h"
#include "common/catalogue.h"
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
#include "common/user_interface.h"
#include "model/descriptor_loader.h"

namespace kvtr::cli {

namespace {

int runBatch(CommandContext& context, std::span<const std::string> args);
int runSignalExit(CommandContext& context, std::span<const std::string> args);

constexpr Command kCommands[] = {
    {"batch", trMark("[/read | /write] [/КЛЮЧ[:ЗНАЧЕНИЕ]...] [ФАЙЛ]"),
     trMark("Выполнить командную строку настольной программы без окон: прочитать прибор в ФАЙЛ или записать "
            "ФАЙЛ в прибор; код 0 или 200–206 по признакам ошибок."),
     &runBatch},
    {"signal-exit", trMark("ИМЯ"),
     trMark("Установить событие завершения ИМЯ запущенного задания batch («/exitevent:ИМЯ»); оно завершится с "
            "кодом 205."),
     &runSignalExit},
};

const Command& commandNamed(std::string_view name) {
  for (const Command& command : kCommands) {
    if (command.name == name) return command;
  }
  return kCommands[0];
}

constexpr const char* kBatchHelp = trMark(
    "Параметры пишутся так, как их принимает настольная программа: аргумент, начинающийся с «/» или\n"
    "«-», содержит параметры через «/», каждый КЛЮЧ или КЛЮЧ:ЗНАЧЕНИЕ, ключи в любом регистре:\n"
    "  /read, /write          задание: прочитать прибор в ФАЙЛ или записать ФАЙЛ в прибор\n"
    "Параметры порта (сохраняются в настройках порта для следующих запусков; не заданные берутся\n"
    "из сохраненных настроек):\n"
    "  /port:N, /port:ПУТЬ    номер COM-порта или путь к устройству\n"
    "  /bps:N                 скорость линии, бод\n"
    "  /len:N                 длина слова данных, бит\n"
    "  /prty:even|odd|no      четность: четная, нечетная, нет\n"
    "  /sbit:ТЕКСТ            число стоп-бит\n"
    "  /alen:N                длина адреса, бит\n"
    "  /addr:ТЕКСТ            адрес прибора\n"
    "  /rs485:auto|off|on     преобразователь: off — автоматический, auto и on — полуавтоматический\n"
    "Прочие:\n"
    "  /aply                  после записи сетевой настройки послать APLY\n"
    "  /elog:ФАЙЛ             дописывать неудачные обмены в ФАЙЛ (он сразу создается пустым)\n"
    "  /exitevent:ИМЯ         «kvtr signal-exit ИМЯ» завершает запуск с кодом 205\n"
    "  /silent, /test, /close, /calibrate, /autoread:on|off, /autowrite:on|off, /x, /y, /w, /h\n"
    "                         принимаются, как их принимает настольная программа\n"
    "В POSIX аргумент, начинающийся с «/», считается файлом, если какая-то его часть не ключ\n"
    "(«/home/user/Прибор А.kvtr»); значения elog, exitevent и port:ПУТЬ идут до конца аргумента.\n"
    "Относительные пути отсчитываются от текущей папки.\n"
    "Коды завершения: 0 — успех; 200 нет файла для записи; 201 порт не открылся; 202 нет ответа;\n"
    "203 ошибки линии; 204 прибор ответил кодом ошибки; 205 прервано; 206 ответил другой прибор;\n"
    "1 — иная ошибка (описатель, файл конфигурации).\n");

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
    std::fprintf(context.out, trFormat("Использование: kvtr batch %s\n%s\n\n%s"), tr(command.usage.data()),
                 tr(command.summary.data()), tr(kBatchHelp));
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
  if (options.operands.size() != 1) return usageError(context, command, tr("нужно одно имя события"));
  std::string error;
  if (!SetNamedEvent(options.operands[0], &error)) return failure(context, command, error);
  return kExitOk;
}

}  // namespace

std::span<const Command> batchCommands() { return kCommands; }

}  // namespace kvtr::cli
