// Switching the module and the program to new network settings together. The module takes new
// settings only when it receives "APLY", and from then on no longer answers at the old ones; so
// "APLY" goes out at the old settings first, then the program copies the module's settings into
// its own port settings, reopens the port and proves the link by reading "dev" at the new
// settings. The dialog "Перевод прибора на новый режим работы" and the command-line tool both
// run it.
#pragma once

#include <string>

#include "common/clock.h"
#include "model/object_with_parameters.h"

namespace kvtr {

class DeviceLink;
class ParameterSteps;
class UserInterface;

// The three choices of the dialog.
struct ApplyOptions {
  bool changeProgramSettings = true;  // "Поменять сразу сетевые настройки программы"
  bool broadcast = false;             // "Поcлать широковещательную команду APLY"
  bool threeTimes = true;             // "Поcлать посылку трижды (для надежности)"
};

struct ApplyOutcome {
  int applyResult = 0;      // the write of "APLY"
  std::string applyComment;  // its error text
  bool switched = false;    // the program took the module's settings and reopened the port
  int openResult = 0;       // OpenLink's result when switched
  bool deviceRead = false;  // "dev" was read at the new settings
  int deviceResult = 0;     // that read's result
  std::string deviceName;   // what "dev" answered
  int repeatedSends = 0;    // further "APLY" frames sent
  // The text of the error message; empty when nothing failed.
  std::string report;

  [[nodiscard]] bool ok() const { return applyResult == 0 && (!deviceRead || deviceResult == 0); }
};

// The OK sequence. The module's settings are the link's device network node; without one the
// program keeps its settings. `ui` shows the error message ("Имела место ошибка"); none in a
// batch run. The pauses around repeated "APLY" frames (100 ms each) run on `clock`.
ApplyOutcome RunApplySequence(DeviceLink& link, ParameterSteps& steps, const ApplyOptions& options,
                              UserInterface* ui, Clock& clock = Clock::system());

// The batch form of the APLY command: "APLY" once, then the program takes the module's settings
// and reopens the port. Returns the result of the "APLY" write.
int ApplyNetworkSettingsBatch(DeviceLink& link, ParameterSteps& steps);

// The dialog's "Новые параметры:" text: the module's settings one per line, or the text of
// what is missing.
[[nodiscard]] std::string ApplyDialogSettingsText(const DeviceLink* link, const ObjectWithParameters* moduleNode);

}  // namespace kvtr
