// The application's shell in the desktop program: the connection dialog at start-up, and the
// calls of the application's watchers and of the engine (a posted job, a close request, the end
// of the job, the network settings written, the document changed), each handed to the GUI thread
// and run there by the main window.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "app/application.h"
#include "ui/gui_thread.h"

namespace kvtr::ui {

class MainFrame;
class QtUserInterface;

class GuiShell final : public QObject, public ApplicationShell {
  Q_OBJECT

 public:
  // Made on the GUI thread: every call from another thread is queued to it.
  explicit GuiShell(QtUserInterface& ui, QObject* parent = nullptr);

  void setMainFrame(MainFrame* frame) { frame_ = frame; }
  void setApplication(Application* application) { application_ = application; }
  void setSplash(QWidget* splash) { splash_ = splash; }

  ConnectionChoice ShowConnectionDialog(ExchangeEngine& engine) override;
  void CloseSplash() override;
  // Read all (139) and write all (140) are run by the main window as if chosen from the menu.
  bool PostCommand(int command) override;
  void RequestClose() override;
  void UnlockWindow() override;
  void NetworkSettingsWritten(Document& document) override;
  void DocumentChanged() override;

 private:
  // Runs `call` on the GUI thread with the main window, if it is still there.
  template <typename Call>
  void Post(Call call) {
    postToGuiThread(this, [this, call] {
      if (frame_ != nullptr) call(*frame_);
    });
  }

  QtUserInterface& ui_;
  QPointer<MainFrame> frame_;
  QPointer<QWidget> splash_;
  Application* application_ = nullptr;
};

}  // namespace kvtr::ui
