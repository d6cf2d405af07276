#include "app/application.h"

#include <fstream>
#include <system_error>

#include "app/read_job.h"
#include "app/settings_store.h"
#include "common/catalogue.h"
#include "common/format.h"
#include "common/user_interface.h"
#include "common/utf8_path.h"
#include "exchange/connection.h"
#include "exchange/group_operations.h"
#include "protocol/apply_sequence.h"

namespace kvtr {

namespace {

SilentUserInterface& silentUi() {
  static SilentUserInterface ui;
  return ui;
}

bool fileHasData(const std::filesystem::path& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return false;
  const auto size = std::filesystem::file_size(path, ec);
  return !ec && size > 0;
}

}  // namespace

Application::Application(ApplicationOptions options)
    : config_(std::move(options)),
      ui_(config_.ui != nullptr ? config_.ui : &silentUi()),
      state_(config_.state != nullptr ? config_.state : &processLinkState()) {}

Application::~Application() {
  StopWatchers();
  document_.reset();
}

// ------------------------------------------------------------------ start-up

Application::StartResult Application::Start() {
  ParseCommandLine();
  const StartupOptions opts = options();
  const std::filesystem::path& file = commandLine_.filePath;

  const FileAction action = FileActionOf(opts, file, fileHasData(file));
  if (action == FileAction::WriteJobWithoutFile) {
    // Nothing to write: no window, no message, exit code 200.
    state_->linkStatus.store(link_status::kWriteJobWithoutFile);
    return StartResult::Failed;
  }
  if (opts.batchMode() && JobCommandOf(opts) == kCommandReadAll) {
    // A read whose result cannot be saved is refused before anything goes out on the line.
    if (std::string refusal = CheckReadJobFile(file); !refusal.empty()) {
      startFailed_.store(true);
      Warn(std::move(refusal));
      return StartResult::Failed;
    }
  }

  if (!ConstructDocument()) return StartResult::Exit;

  if (action == FileAction::OpenFile) {
    const bool silent = opts.batchMode() && opts.hasMode(mode_flag::kNoCommunication);
    if (!document_->OpenDocument(file, silent)) {
      startFailed_.store(true);
      Warn(strprintf(trFormat("не удалось открыть файл конфигурации %s"), utf8FromPath(file).c_str()));
      return StartResult::Failed;
    }
  } else {
    // A descriptor that gives no tree has shown its messages; the program goes on without a
    // tree, and a job then cannot run.
    (void)document_->NewDocument();
    if (!file.empty()) document_->setFilePath(file);
  }

  SetModes();
  if (opts.batchMode()) StartJob();
  exitWatcher_ = std::thread([this] { ExitEventWatcher(); });
  return StartResult::Run;
}

void Application::ParseCommandLine() {
  commandLine_ = parseCommandLine(config_.arguments, config_.workingDirectory, config_.syntax);
  {
    std::lock_guard lock(mutex_);
    options_ = commandLine_.options;
    warnings_ = commandLine_.warnings;
  }
  if (!commandLine_.errorLogPath.empty()) {
    // Created empty at once: whatever the run appends later is the whole log of this run.
    std::ofstream log(commandLine_.errorLogPath, std::ios::binary | std::ios::trunc);
    if (!log) Warn(strprintf(trFormat("не удалось создать журнал ошибок %s"), utf8FromPath(commandLine_.errorLogPath).c_str()));
  }
  if (!commandLine_.exitEventName.empty()) {
    std::string error;
    exitEvent_ = NamedEvent::Open(commandLine_.exitEventName, &error);
    if (exitEvent_ == nullptr) Warn(tr("не удалось открыть событие завершения: ") + error);
  }
}

bool Application::ConstructDocument() {
  const StartupOptions opts = options();
  const bool batch = opts.batchMode();

  DocumentOptions documentOptions;
  documentOptions.settings = config_.settings;
  documentOptions.ui = ui_;
  documentOptions.state = state_;
  documentOptions.descriptorFile = config_.descriptorFile;
  documentOptions.portChoices = config_.portChoices;
  document_ = std::make_unique<Document>(documentOptions);

  ExchangeEngine& engine = document_->engine();
  engine.setEvents(this);
  engine.setClosingGrace(config_.closingGrace);
  engine.setErrorLogPath(commandLine_.errorLogPath);
  engine.setBatchMode(batch);
  engine.setCommunicationOff(opts.hasMode(mode_flag::kNoCommunication));

  if (config_.settings != nullptr) {
    (void)registerDeviceName(*config_.settings);
    if (!config_.programPath.empty()) (void)CheckMainConfigurator(*config_.settings, config_.programPath, *ui_);
  }

  if (batch && opts.has(startup_flag::kPortSettings)) {
    // The module's settings node exists only once a tree is loaded, so at this point the
    // command-line settings reach the program's node only.
    if (ApplyCommandLinePortSettings(opts, engine.programPortNode(), engine.deviceNetworkNode()) > 0) {
      (void)engine.OpenLink(true);
    }
  }

  const bool connected =
      config_.connect ? config_.connect(engine)
                      : Connect(engine, [&engine] { return engine.operations().IdentifyDevice(false); });
  bool exit = false;
  if (!connected && !batch && config_.shell != nullptr) {
    config_.shell->CloseSplash();
    switch (config_.shell->ShowConnectionDialog(engine)) {
      case ApplicationShell::ConnectionChoice::Connected: break;
      case ApplicationShell::ConnectionChoice::Offline: SetOfflineMode(); break;
      case ApplicationShell::ConnectionChoice::Exit: exit = true; break;
    }
  }
  if (opts.hasMode(mode_flag::kTest)) exit = true;
  return !exit;
}

void Application::SetModes() {
  const StartupOptions opts = options();
  ExchangeEngine& engine = document_->engine();
  if (opts.rs485 != 0) {
    // "off" is the automatic converter; "auto" and "on" the semi-automatic one, whose direction
    // the program switches.
    engine.serialPort().settings().automaticConverter = opts.rs485 == kRs485Off ? 1 : 0;
  }
  if (opts.hasMode(mode_flag::kAutoReadOn)) engine.setAutomaticReading(true);
  if (opts.hasMode(mode_flag::kAutoReadOff)) engine.setAutomaticReading(false);
  if (opts.hasMode(mode_flag::kAutoWriteOn)) engine.setImmediateWriting(true);
  if (opts.hasMode(mode_flag::kAutoWriteOff)) engine.setImmediateWriting(false);
}

void Application::SetOfflineMode() {
  std::lock_guard lock(mutex_);
  options_.modeFlags = mode_flag::kAutoReadOff;
}

// ------------------------------------------------------------------ the job

void Application::StartJob() {
  const int command = JobCommandOf(options());
  ExchangeEngine& engine = document_->engine();
  engine.setBatchJob(command == kCommandReadAll, &jobEvent_);
  if (command != 0) {
    jobEvent_.reset();
    pendingJob_.store(command);
    const bool posted = config_.shell != nullptr && config_.shell->PostCommand(command);
    if (!posted) {
      pendingJob_.store(0);
      jobFailed_.store(true);
      if (command == kCommandCurrentInputAdjustment) {
        Warn(tr("для подстройки токовых входов в этой программе нет процедуры: ничего не сделано"));
      }
      jobEvent_.set();
    }
  }
  jobWatcher_ = std::thread([this] { JobWatcher(); });
}

bool Application::RunCommand(int command, const TaskRunner& run) {
  bool ran = false;
  if (document_ != nullptr) {
    if (run) {
      if (command == kCommandReadAll) ran = document_->RunWholeTreeTask(TaskKind::ReadAll, run);
      else if (command == kCommandWriteAll) ran = document_->RunWholeTreeTask(TaskKind::WriteAll, run);
    } else if (command == kCommandReadAll) {
      ran = document_->ReadAll();
    } else if (command == kCommandWriteAll) {
      ran = document_->WriteAll();
    }
  }
  int expected = command;
  if (pendingJob_.compare_exchange_strong(expected, 0) && !ran) {
    // The job's task never started, so nothing else will end the job.
    jobFailed_.store(true);
    jobEvent_.set();
  }
  return ran;
}

void Application::JobWatcher() {
  const int woke = Clock::system().waitAny({&jobEvent_, &jobWatcherCancel_}, Clock::kInfinite);
  if (woke == 0) {
    // Values the value rules kept from the module fail the job, each named with its reason.
    if (document_ != nullptr) {
      for (std::string& refused : document_->engine().operations().refusedValues()) {
        jobFailed_.store(true);
        Warn(std::move(refused));
      }
    }
    ApplicationShell* shell = config_.shell;
    if (shell != nullptr) shell->UnlockWindow();
    const StartupOptions opts = options();
    if (shell != nullptr && (opts.has(startup_flag::kClose) || opts.has(startup_flag::kCalibrateJob))) {
      shell->RequestClose();
    }
    ClearOptions();
  }
  jobWatcherEnded_.set();
}

void Application::ClearOptions() {
  {
    std::lock_guard lock(mutex_);
    options_ = {};
  }
  ExchangeEngine& engine = document_->engine();
  engine.setBatchMode(false);
  engine.setBatchJob(false, nullptr);
  engine.setCommunicationOff(false);
}

void Application::ExitEventWatcher() {
  Waitable* items[3] = {&quit_, &stopRequest_, exitEvent_ != nullptr ? &exitEvent_->signalled() : nullptr};
  const int woke = Clock::system().waitAny(std::span<Waitable* const>(items, exitEvent_ != nullptr ? 3 : 2),
                                           Clock::kInfinite);
  if (woke == 1 || woke == 2) stopAsked_.store(true);
  // A job that is about to end is given the time to end by itself.
  if (jobWatcher_.joinable() && !jobWatcherEnded_.wait(config_.jobWatcherLimit)) jobWatcherCancel_.set();
  if (woke == 1 || woke == 2) {
    state_->linkStatus.store(link_status::kInterrupted);
    exitEvent_.reset();
    if (config_.shell != nullptr) config_.shell->RequestClose();
  }
  document_->engine().abortEvent().set();
}

void Application::MainFrameDestroyed() { StopWatchers(); }

void Application::StopWatchers() {
  if (watchersStopped_) return;
  watchersStopped_ = true;
  quit_.set();
  if (exitWatcher_.joinable()) exitWatcher_.join();
  if (jobWatcher_.joinable()) {
    jobWatcherCancel_.set();
    jobWatcher_.join();
  }
}

// ------------------------------------------------------------------ notifications of the engine

void Application::documentModified() {
  if (document_ != nullptr) document_->setModified(true);
}

void Application::networkSettingsWritten() {
  if (document_ == nullptr) return;
  if (batchMode()) {
    // Unattended runs switch the module over only when the command line asks for it.
    if (options().has(startup_flag::kApply)) {
      ExchangeEngine& engine = document_->engine();
      (void)ApplyNetworkSettingsBatch(engine, engine.operations());
    }
    return;
  }
  if (config_.shell != nullptr) config_.shell->NetworkSettingsWritten(*document_);
}

void Application::batchReadFinished(const TaskOutcome& outcome) {
  if (document_ == nullptr || document_->tree() == nullptr) {
    (void)SaveToCommandLineFile();
    return;
  }
  const std::uint32_t status = state_->linkStatus.load();
  const bool stopped = stopAsked_.load() || status == link_status::kInterrupted;
  const bool whole = !stopped && ReadJobEndedWhole(outcome, status);
  // A read that failed without setting a failure flag still does not end as a success.
  if (!whole) jobFailed_.store(true);
  const ReadJobSaveResult saved = SaveReadJobResult(*document_->tree(), commandLine_.filePath, whole, stopped);
  switch (saved.status) {
    case ReadJobSave::Saved:
    case ReadJobSave::SavedPartly:
      document_->setFilePath(commandLine_.filePath);
      document_->setModified(false);
      if (config_.shell != nullptr) config_.shell->DocumentChanged();
      break;
    case ReadJobSave::KeptExisting: break;
    case ReadJobSave::Failed: saveFailed_.store(true); break;
  }
  if (!saved.message.empty()) Warn(saved.message);
}

void Application::portLost(const std::string& text) { Warn(text); }

bool Application::SaveToCommandLineFile() {
  const std::filesystem::path& path = commandLine_.filePath;
  std::string error;
  bool saved = false;
  if (path.empty()) error = tr("не названо имя файла для результата");
  else if (document_ != nullptr) saved = document_->SaveDocument(path, &error);
  if (!saved) {
    saveFailed_.store(true);
    Warn(tr("конфигурация не сохранена: ") + error);
  } else if (config_.shell != nullptr) {
    config_.shell->DocumentChanged();
  }
  return saved;
}

// ------------------------------------------------------------------ state

StartupOptions Application::options() const {
  std::lock_guard lock(mutex_);
  return options_;
}

bool Application::batchMode() const { return options().batchMode(); }

std::vector<std::string> Application::warnings() const {
  std::lock_guard lock(mutex_);
  return warnings_;
}

void Application::Warn(std::string text) {
  std::lock_guard lock(mutex_);
  warnings_.push_back(std::move(text));
}

int Application::ExitCode(int ordinary) const {
  if (const int code = exitCodeOfLinkStatus(state_->linkStatus.load()); code != 0) return code;
  if (startFailed_.load() || jobFailed_.load() || saveFailed_.load()) return 1;
  return ordinary;
}

}  // namespace kvtr
