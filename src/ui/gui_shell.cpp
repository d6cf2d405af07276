#include "ui/gui_shell.h"

#include "app/startup_steps.h"
#include "ui/main_frame.h"
#include "ui/qt_user_interface.h"
#include "ui/setup_carrier_dialog.h"

namespace kvtr::ui {

GuiShell::GuiShell(QtUserInterface& ui, QObject* parent) : QObject(parent), ui_(ui) {}

ApplicationShell::ConnectionChoice GuiShell::ShowConnectionDialog(ExchangeEngine& engine) {
  SetupCarrierDialog dialog(engine, ui_, true, ui_.parentWidget());
  (void)dialog.exec();
  return dialog.choice();
}

void GuiShell::CloseSplash() {
  if (splash_ != nullptr) splash_->close();
}

bool GuiShell::PostCommand(int command) {
  if (command != kCommandReadAll && command != kCommandWriteAll) return false;
  Post([command](MainFrame& frame) { frame.runCommand(command); });
  return true;
}

void GuiShell::RequestClose() {
  Post([](MainFrame& frame) { frame.closeAsRequested(); });
}

void GuiShell::UnlockWindow() {
  Post([](MainFrame& frame) { frame.unlock(); });
}

void GuiShell::NetworkSettingsWritten(Document& document) {
  (void)document;
  Post([](MainFrame& frame) { frame.runCommand(command::kApply); });
}

void GuiShell::DocumentChanged() {
  Post([](MainFrame& frame) { frame.documentChanged(); });
}

}  // namespace kvtr::ui
