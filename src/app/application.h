// The application: start-up, the command line, the unattended job and its exit code. It owns the
// start-up options, the failure flags' verdict, the quit event, the job event, the exit event and
// the two watcher threads, and the one document.
//
// Start-up (Start), in order:
//   1. The command line is parsed; "elog" creates its file empty, "exitevent" opens its event.
//   2. The file action: a read job starts a new configuration (the named file is where the
//      result goes, checked now, before the module is read: app/read_job.h); a write job without a file that holds data ends start-up at once with
//      failure 200; otherwise an existing file is opened, or a new configuration takes its name.
//   3. The document is made: the engine with the program's port-settings node (stored settings),
//      the "devices" value, the main-configurator check, in batch mode the command-line port
//      settings, the connection check and, when it fails outside batch mode, the connection
//      dialog (its "Выход" ends start-up). "test" ends start-up here as well.
//   4. The new configuration (descriptor, port opened again) or the file is loaded.
//   5. The converter and reading modes given on the command line are set.
//   6. In batch mode the job is started by posting its command to the main window, and the job
//      watcher starts; the exit-event watcher always starts.
//
// The job watcher waits for the job event (set by the engine when the job's task has finished,
// and at once when no job was started), unlocks the main window, asks it to close after "close"
// or "calibrate", and clears the start-up options, which ends batch mode. The exit-event watcher
// waits for the quit event or the exit event; after the exit event the failure flags become 205,
// the main window is asked to close, and in either case the running task is aborted.
//
// Threads: Start, RunCommand and MainFrameDestroyed run on the program's main (user-interface)
// thread. The engine's notifications come on its transmit thread; the watchers call the shell
// from their own threads, so a GUI shell hands those calls over to its own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/document.h"
#include "app/named_event.h"
#include "app/startup_options.h"
#include "app/startup_steps.h"
#include "common/event.h"
#include "exchange/exchange_engine.h"

namespace kvtr {

class SettingsStore;
class UserInterface;

// What the application asks of the program's windows. The desktop program implements it with its
// main frame and dialogs; `kvtr batch`, which has none, without windows.
class ApplicationShell {
 public:
  virtual ~ApplicationShell() = default;

  enum class ConnectionChoice {
    Connected,  // the dialog found the module
    Offline,    // "Работать offline"
    Exit,       // "Выход": the program ends
  };
  // The connection set-up dialog with offline work allowed: shown on the main thread at start-up
  // when the connection check failed outside batch mode. The splash window is closed first.
  virtual ConnectionChoice ShowConnectionDialog(ExchangeEngine& engine) = 0;
  virtual void CloseSplash() {}

  // Posts a command of the main window, to run as if chosen from the menu (RunCommand runs the
  // commands the application knows). False when the window has no handler for it.
  virtual bool PostCommand(int command) = 0;
  // Posts a close request to the main window. Any thread.
  virtual void RequestClose() = 0;
  // The job has ended: a window placed by the command line may be moved again. Any thread.
  virtual void UnlockWindow() {}
  // Outside batch mode a network setting of the module was written: the dialog "Перевод прибора
  // на новый режим работы" is due. On the engine's transmit thread.
  virtual void NetworkSettingsWritten(Document& document) { (void)document; }
  // The document was modified by an exchange or saved; the views and the title follow.
  virtual void DocumentChanged() {}
};

struct ApplicationOptions {
  // The arguments after the program name, and the folder relative paths are taken from.
  std::vector<std::string> arguments;
  std::filesystem::path workingDirectory;
  CommandLineSyntax syntax = hostCommandLineSyntax();
  // The program's own file, for the main-configurator check; empty: no check.
  std::filesystem::path programPath;
  std::filesystem::path descriptorFile;
  SettingsStore* settings = nullptr;
  UserInterface* ui = nullptr;
  ApplicationShell* shell = nullptr;
  // The failure flags; none: the process-wide ones.
  LinkState* state = nullptr;
  // The connection check at start-up; none: the connection procedure with the device
  // identification.
  ConnectProcedure connect;
  std::string portChoices;
  // How long the progress window stays up after a task; the tool without windows sets 0.
  Clock::Duration closingGrace = ExchangeEngine::kClosingGrace;
  // How long the exit-event watcher lets a running job go on before it aborts it.
  std::chrono::milliseconds jobWatcherLimit{5000};
};

class Application final : public ExchangeEvents {
 public:
  explicit Application(ApplicationOptions options);
  // Ends the watchers (as MainFrameDestroyed), then the document goes, storing the port settings.
  ~Application() override;
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  enum class StartResult {
    Run,     // the main window is up; the job, if any, has been posted
    Exit,    // start-up ended as asked ("test", "Выход" in the connection dialog)
    Failed,  // start-up failed: a write job without its file, or the configuration file cannot be opened
  };
  StartResult Start();

  // Runs a command of the main window that the application knows (read all 139, write all 140)
  // and returns when its task has finished. False when no task ran; a job that cannot run ends
  // at once and counts as failed. `run` runs the task (the desktop program: behind its progress
  // window); none: the document waits for it.
  bool RunCommand(int command, const TaskRunner& run = {});

  // The main window is gone: the quit event is set and the watchers end.
  void MainFrameDestroyed();

  // The process exit code: 200 + the number of the lowest failure flag; else 1 when start-up
  // failed, the job could not run or its result could not be saved; else `ordinary`.
  [[nodiscard]] int ExitCode(int ordinary = 0) const;

  // "Работать offline" at start-up: automatic reading off, communication allowed.
  void SetOfflineMode();

  // Saves the document into the file named on the command line.
  bool SaveToCommandLineFile();

  [[nodiscard]] StartupOptions options() const;
  [[nodiscard]] bool batchMode() const;
  [[nodiscard]] const CommandLine& commandLine() const { return commandLine_; }
  // Warnings of the command line and of start-up (an error log or an exit event that could not
  // be made), in the user's words.
  [[nodiscard]] std::vector<std::string> warnings() const;
  [[nodiscard]] Document* document() const { return document_.get(); }
  [[nodiscard]] WindowPlacement windowPlacement() const { return WindowPlacementOf(options()); }
  [[nodiscard]] LinkState& state() const { return *state_; }
  // Set once the job watcher has seen the job end (or there was no job).
  [[nodiscard]] Event& jobFinished() { return jobWatcherEnded_; }
  // Ends the run as the exit event does (exit code 205, the running job stopped): a stop asked
  // in another way than the named event, such as Ctrl+C in the tool without windows. Setting it
  // is one write, which a signal handler may do; it is looked at once the program runs.
  [[nodiscard]] Event& stopRequest() { return stopRequest_; }

  // ExchangeEvents, on the engine's transmit thread.
  void documentModified() override;
  void networkSettingsWritten() override;
  // Saves the read into the command-line file, or keeps the file there, by how the read ended
  // (app/read_job.h).
  void batchReadFinished(const TaskOutcome& outcome) override;
  // A batch run shows no messages: the port that went away is among the run's warnings.
  void portLost(const std::string& text) override;

 private:
  void ParseCommandLine();
  bool ConstructDocument();
  void SetModes();
  void StartJob();
  void JobWatcher();
  void ExitEventWatcher();
  void ClearOptions();
  void StopWatchers();
  void Warn(std::string text);

  ApplicationOptions config_;
  UserInterface* ui_;
  LinkState* state_;
  CommandLine commandLine_;

  mutable std::mutex mutex_;  // the start-up options and the warnings
  StartupOptions options_;
  std::vector<std::string> warnings_;

  std::unique_ptr<Document> document_;
  std::unique_ptr<NamedEvent> exitEvent_;
  Event quit_{EventReset::Manual};
  Event stopRequest_{EventReset::Manual};
  Event jobEvent_{EventReset::Automatic, true};
  Event jobWatcherEnded_{EventReset::Manual};
  Event jobWatcherCancel_{EventReset::Manual};
  std::thread jobWatcher_;
  std::thread exitWatcher_;
  bool watchersStopped_ = false;

  // The command of the job posted and not yet run.
  std::atomic<int> pendingJob_{0};
  std::atomic<bool> startFailed_{false};
  std::atomic<bool> jobFailed_{false};
  std::atomic<bool> saveFailed_{false};
  // The exit event or a stop request has come: a read ending now was cut short, even when it
  // ends by itself in the time it is given.
  std::atomic<bool> stopAsked_{false};
};

}  // namespace kvtr
