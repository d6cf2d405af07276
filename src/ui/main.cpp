// kvtr-configurator: the desktop program. The start-up, the command line, the unattended jobs and
// the exit code are the application's (the same code `kvtr batch` runs); this file gives it its
// windows: the splash, the main window, the connection dialog, the message boxes.
#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/application.h"
#include "app/settings_store.h"
#include "app/startup_options.h"
#include "app/startup_steps.h"
#include "common/program_directory.h"
#include "model/descriptor_loader.h"
#include "ui/gui_shell.h"
#include "ui/main_frame.h"
#include "ui/qt_user_interface.h"
#include "ui/resources.h"
#include "ui/splash_screen.h"

int main(int argc, char** argv) {
  using namespace kvtr;
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Configurator - KVTR");
  QApplication::setApplicationName("KVTR");
  ui::LoadResources();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/kvtr.svg")));

  ApplicationOptions options;
  // Qt has taken its own options out of the arguments; the rest are the program's.
  for (int i = 1; i < argc; ++i) options.arguments.emplace_back(argv[i]);
  std::error_code ec;
  options.workingDirectory = std::filesystem::current_path(ec);

  // A write job without a file to write ends at once with no window at all, not even the splash.
  const CommandLine preview = parseCommandLine(options.arguments, options.workingDirectory);
  const bool fileHasData = std::filesystem::is_regular_file(preview.filePath, ec) &&
                           std::filesystem::file_size(preview.filePath, ec) > 0 && !ec;
  ui::SplashScreen splash;
  if (FileActionOf(preview.options, preview.filePath, fileHasData) != FileAction::WriteJobWithoutFile) {
    splash.show();
    QApplication::processEvents();
  }

  ui::QtUserInterface userInterface;
  ui::GuiShell shell(userInterface);
  shell.setSplash(&splash);
  std::unique_ptr<SettingsStore> store = openSettingsStore();
  options.programPath = std::filesystem::path(QCoreApplication::applicationFilePath().toStdU16String());
  options.descriptorFile = FindDescriptorFile(programDirectory());
  options.settings = store.get();
  options.ui = &userInterface;
  options.shell = &shell;

  int code = 0;
  {
    Application application(std::move(options));
    shell.setApplication(&application);
    {
      ui::MainFrame frame(userInterface);
      userInterface.setParentWidget(&frame);
      shell.setMainFrame(&frame);
      frame.setApplication(&application);
      QObject::connect(&frame, &ui::MainFrame::frameClosing, [&application] { application.MainFrameDestroyed(); });
      // The run ends when the main window goes; a close that comes before the event loop runs
      // (asked by the command line while a nested loop ran) ends it before it starts.
      bool frameGone = false;
      QApplication::setQuitOnLastWindowClosed(false);
      QObject::connect(&frame, &ui::MainFrame::frameClosing, &app, [&frameGone] {
        frameGone = true;
        QCoreApplication::quit();
      });

      const Application::StartResult started = application.Start();
      if (started == Application::StartResult::Run) {
        frame.setDocument(application.document());
        // The placement the command line asked for (the job watcher clears the options once the job ends).
        const WindowPlacement placement = WindowPlacementOf(application.commandLine().options);
        switch (placement.kind) {
          case WindowPlacement::Kind::Minimised: frame.showMinimized(); break;
          case WindowPlacement::Kind::Placed:
            if (placement.locked) frame.lockAt(QPoint(placement.x, placement.y), QSize(placement.w, placement.h));
            else frame.setGeometry(placement.x, placement.y, placement.w, placement.h);
            frame.show();
            break;
          case WindowPlacement::Kind::Maximised: frame.showMaximized(); break;
        }
        splash.close();
        if (!frameGone) code = QApplication::exec();
      }
      splash.close();
      application.MainFrameDestroyed();
      frame.setDocument(nullptr);
      userInterface.setParentWidget(nullptr);
    }
    for (const std::string& warning : application.warnings()) {
      std::fprintf(stderr, "kvtr-configurator: %s\n", warning.c_str());
    }
    code = application.ExitCode(code);
  }
  return code;
}
