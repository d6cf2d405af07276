// "Перевод прибора на новый режим работы": the dialog that sends "APLY", with which the module
// takes the network settings written into it, and moves the program to them as well. It shows
// the module's new settings and the three choices; OK runs the switch-over. Afterwards the
// program says plainly whether the module answers at the new settings, and when it does not,
// offers to go back to the program's settings from before.
#pragma once

#include <QDialog>
#include <string>

#include "common/catalogue.h"
#include "protocol/apply_sequence.h"

class QCheckBox;
class QPlainTextEdit;

namespace kvtr {
class DeviceLink;
class ParameterSteps;
}  // namespace kvtr

namespace kvtr::ui {

class QtUserInterface;

inline constexpr const char* kApplyDialogTitle = trMark("Перевод прибора на новый режим работы");

class ApplyDialog final : public QDialog {
  Q_OBJECT

 public:
  // `link` may be none (the dialog then says so and OK does nothing but close).
  ApplyDialog(DeviceLink* link, ParameterSteps* steps, QtUserInterface& ui, QWidget* parent = nullptr);

  [[nodiscard]] ApplyOptions options() const;
  // What the OK sequence did; meaningful after the dialog ended with OK.
  [[nodiscard]] const ApplyOutcome& outcome() const { return outcome_; }

  void accept() override;

 private:
  DeviceLink* link_;
  ParameterSteps* steps_;
  QtUserInterface& ui_;
  QPlainTextEdit* settings_;
  QCheckBox* changeProgram_;
  QCheckBox* broadcast_;
  QCheckBox* threeTimes_;
  ApplyOutcome outcome_;
};

// The APLY command of the desktop program: the dialog, then the verdict on the link at the new
// settings and, when the module is lost, the offer to go back. Returns true when the dialog
// ended with OK.
bool RunApplyCommand(DeviceLink& link, ParameterSteps& steps, QtUserInterface& ui, QWidget* parent);

}  // namespace kvtr::ui
