// The steps of start-up that need neither the line nor a window: the registration of the
// device's main configurator, the command-line port settings put into the port-settings nodes,
// the choice of the command-line job, and where the main window goes.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "app/startup_options.h"

namespace kvtr {

class ObjectWithParameters;
class SettingsStore;
class UserInterface;

// ---------------------------------------------------------------- main configurator

// The question asked when another configurator of the device is registered.
[[nodiscard]] std::string MainConfiguratorQuestion(std::string_view thisProgram, std::string_view registered);
inline constexpr std::string_view kMainConfiguratorCaption = "Конфигуратор КВТР";

enum class MainConfiguratorCheck {
  NotRegistered,   // no "application" value: left missing
  ThisProgram,     // it names this program
  Missing,         // it names a file that does not exist
  Kept,            // another configurator; the operator kept it
  Replaced,        // another configurator; this program is registered instead
};

// Reads "application" of the devices key (creating the key), and when it names an existing file
// that is not `thisProgram`, asks the operator whether to register this program instead; on
// "yes" the value becomes this program's path in double quotes. The two paths name one program
// when they are the same file (on Windows that is also a comparison without regard to case).
MainConfiguratorCheck CheckMainConfigurator(SettingsStore& store, const std::filesystem::path& thisProgram,
                                            UserInterface& ui);

// ---------------------------------------------------------------- port settings

// The parity text of StartupOptions::parity 1 to 3; empty for any other.
[[nodiscard]] std::string_view StartupParityText(std::uint8_t parity);

// Writes the port settings given on the command line into the program's port-settings node,
// and with "aply" first into the same parameter of the module's network settings, when there
// is one. In this order: "Addr", "A.Len", "bPS", "LEn", "Sbit", "PrtY", then "Port" (the
// program's node only); a setting not given (zero or empty) is skipped. Returns how many were
// written into the program's node: when that is not 0 the port is to be opened again.
int ApplyCommandLinePortSettings(const StartupOptions& options, ObjectWithParameters& programNode,
                                 ObjectWithParameters* moduleNode);

// ---------------------------------------------------------------- the job

// Commands of the main window a job is started with.
inline constexpr int kCommandReadAll = 139;
inline constexpr int kCommandWriteAll = 140;
inline constexpr int kCommandCurrentInputAdjustment = 303;

// The one job of a batch run, by priority: "write", else "calibrate", else "read"; 0 for none.
[[nodiscard]] int JobCommandOf(const StartupOptions& options);

// What the configuration file named on the command line means at start-up.
enum class FileAction {
  NewDocument,       // a new configuration (with the command-line path as its name when one is given)
  OpenFile,          // the file is opened
  WriteJobWithoutFile,  // a "write" job and no file to write: failure 200, no window
};
// `fileHasData`: the file exists and is not empty.
[[nodiscard]] FileAction FileActionOf(const StartupOptions& options, const std::filesystem::path& file,
                                      bool fileHasData);

// ---------------------------------------------------------------- the window

struct WindowPlacement {
  enum class Kind { Maximised, Minimised, Placed };
  Kind kind = Kind::Maximised;
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  // A placed window cannot be moved, sized, minimised or maximised until the job has ended.
  bool locked = false;

  friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};
[[nodiscard]] WindowPlacement WindowPlacementOf(const StartupOptions& options);

}  // namespace kvtr
