// The desktop program's run: the application's start-up, command line, jobs and exit code (the
// same code `kvtr batch` runs) with the program's windows: the splash, the connection dialog when
// the module does not answer, the main window placed as the command line asks, the message boxes.
// main() is this class and an event loop; the tests start the whole program in their own process
// through it.
#pragma once

#include <QObject>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"

namespace kvtr {
class SettingsStore;
}

namespace kvtr::ui {

class GuiShell;
class MainFrame;
class QtUserInterface;
class SplashScreen;

struct ConfiguratorOptions {
  // The arguments after the program name, as the operator or a script gave them.
  std::vector<std::string> arguments;
  std::filesystem::path workingDirectory;
  // The program's own file (the main-configurator check) and the descriptor of new configurations.
  std::filesystem::path programPath;
  std::filesystem::path descriptorFile;
  // The stored port settings; none: the defaults, nothing stored.
  SettingsStore* settings = nullptr;
  bool showSplash = true;
  // How long the progress window stays up after a task.
  Clock::Duration closingGrace = ExchangeEngine::kClosingGrace;
};

class Configurator {
 public:
  Configurator(QtUserInterface& ui, ConfiguratorOptions options);
  // Ends the run if Finish has not: the watchers stop, the document goes and stores the port settings.
  ~Configurator();
  Configurator(const Configurator&) = delete;
  Configurator& operator=(const Configurator&) = delete;

  // Start-up: the splash, the application's start-up (the connection dialog when the module does
  // not answer outside batch mode), the main window shown maximised, minimised or placed and
  // locked as the command line asks, the job posted.
  Application::StartResult Start();
  // After Start: the event loop until the main window has gone, then Finish.
  int Run();
  // Ends the run and gives the process exit code: the job's failure flags, or `ordinary`.
  int Finish(int ordinary = 0);

  [[nodiscard]] MainFrame& frame() { return *frame_; }
  [[nodiscard]] Application& application() { return *application_; }
  // The main window has gone (closed by the operator or by the command line).
  [[nodiscard]] bool frameGone() const { return frameGone_; }

 private:
  QtUserInterface& ui_;
  std::unique_ptr<SplashScreen> splash_;
  std::unique_ptr<GuiShell> shell_;
  std::unique_ptr<Application> application_;
  std::unique_ptr<MainFrame> frame_;
  Application::StartResult started_ = Application::StartResult::Failed;
  bool frameGone_ = false;
  bool finished_ = false;
  int exitCode_ = 0;
};

}  // namespace kvtr::ui
