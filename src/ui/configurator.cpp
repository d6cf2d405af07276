#include "ui/configurator.h"

#include <QApplication>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QSize>
#include <cstdio>

#include "ui/gui_shell.h"
#include "ui/main_frame.h"
#include "ui/qt_user_interface.h"
#include "ui/splash_screen.h"

namespace kvtr::ui {

Configurator::Configurator(QtUserInterface& ui, ConfiguratorOptions options) : ui_(ui) {
  if (options.showSplash) {
    splash_ = std::make_unique<SplashScreen>();
    splash_->show();
    QApplication::processEvents();
  }
  shell_ = std::make_unique<GuiShell>(ui_);
  shell_->setSplash(splash_.get());

  ApplicationOptions app;
  app.arguments = std::move(options.arguments);
  app.workingDirectory = std::move(options.workingDirectory);
  app.programPath = std::move(options.programPath);
  app.descriptorFile = std::move(options.descriptorFile);
  app.settings = options.settings;
  SettingsStore* settings = options.settings;
  app.ui = &ui_;
  app.shell = shell_.get();
  app.closingGrace = options.closingGrace;
  application_ = std::make_unique<Application>(std::move(app));
  shell_->setApplication(application_.get());

  frame_ = std::make_unique<MainFrame>(ui_);
  ui_.setParentWidget(frame_.get());
  shell_->setMainFrame(frame_.get());
  frame_->setApplication(application_.get());
  frame_->setSettings(settings);
  // The run ends when the main window goes; a close that comes before the event loop runs (asked
  // by the command line while a nested loop ran) ends it before it starts.
  QObject::connect(frame_.get(), &MainFrame::frameClosing, frame_.get(), [this] {
    frameGone_ = true;
    application_->MainFrameDestroyed();
    QCoreApplication::quit();
  });
}

Configurator::~Configurator() { (void)Finish(); }

Application::StartResult Configurator::Start() {
  started_ = application_->Start();
  if (started_ == Application::StartResult::Run) {
    frame_->setDocument(application_->document());
    // The placement the command line asked for (the job watcher clears the options once the job ends).
    const WindowPlacement placement = WindowPlacementOf(application_->commandLine().options);
    switch (placement.kind) {
      case WindowPlacement::Kind::Minimised: frame_->showMinimized(); break;
      case WindowPlacement::Kind::Placed:
        if (placement.locked) {
          frame_->lockAt(QPoint(placement.x, placement.y), QSize(placement.w, placement.h));
        } else {
          frame_->setGeometry(placement.x, placement.y, placement.w, placement.h);
        }
        frame_->show();
        break;
      case WindowPlacement::Kind::Maximised:
        // The size it returns to when the operator restores it (and the size it has where no window
        // manager maximises it): three quarters of the screen, in its middle.
        if (const QScreen* screen = frame_->screen()) {
          const QRect area = screen->availableGeometry();
          const QSize size(area.width() * 3 / 4, area.height() * 3 / 4);
          frame_->setGeometry(QRect(area.center() - QPoint(size.width() / 2, size.height() / 2), size));
        }
        frame_->showMaximized();
        break;
    }
  }
  if (splash_ != nullptr) splash_->close();
  return started_;
}

int Configurator::Run() {
  int code = 0;
  if (started_ == Application::StartResult::Run && !frameGone_) code = QApplication::exec();
  return Finish(code);
}

int Configurator::Finish(int ordinary) {
  if (finished_) return exitCode_;
  finished_ = true;
  if (splash_ != nullptr) splash_->close();
  application_->MainFrameDestroyed();
  frame_->setDocument(nullptr);
  ui_.setParentWidget(nullptr);
  shell_->setMainFrame(nullptr);
  frame_.reset();
  for (const std::string& warning : application_->warnings()) {
    std::fprintf(stderr, "kvtr-configurator: %s\n", warning.c_str());
  }
  exitCode_ = application_->ExitCode(ordinary);
  return exitCode_;
}

}  // namespace kvtr::ui
