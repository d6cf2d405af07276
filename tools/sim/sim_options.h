// The command line of kvtr-sim, and the commands of its control channel.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/protocol_switch.h"
#include "sim/fault_injector.h"
#include "sim/line_settings.h"
#include "sim/sim_module.h"

namespace kvtr::sim {

struct SimOptions {
  std::filesystem::path descriptor;  // empty: kvtr.tree.dat beside the program
  std::filesystem::path link;        // a symbolic link to the slave, removed at exit
  // Serve on 127.0.0.1 at this TCP port instead of a pseudo-terminal (0: a free one), raw or
  // as an RFC 2217 gateway.
  std::optional<int> networkPort;
  bool rfc2217 = false;
  LineOverrides line;
  std::optional<ProtocolMode> protocol;
  ModuleIdentity identity;
  InputBehaviour inputs;
  FaultSettings faults;
  bool wireTime = false;
  std::filesystem::path stateFile;
  std::filesystem::path logFile;
  std::string control;  // "-" for the standard input, else a FIFO path
  bool help = false;
};

struct OptionsResult {
  SimOptions options;
  std::string error;  // empty on success
};

// GNU style: "--name value" or "--name=value".
[[nodiscard]] OptionsResult ParseOptions(const std::vector<std::string>& args);
[[nodiscard]] std::string UsageText();

// A fault rule field set by name: "every", "first" or "probability". False with `error` set
// when the number does not fit the field.
bool SetFaultField(FaultRule& rule, std::string_view field, std::string_view value, std::string& error);

// A line of the control channel, parsed:
//   fault KIND every N | first N | probability P | off      faults off
//   delay MS      slow MS      late-ms MS      wire-time on|off
//   inputs auto | MASK (decimal or 0x hex)      attr NAME INDEX BYTE
//   factory       save          ping
//   frames        answers "ok N": the number of frames received so far
//   frames N      answers "ok" once N frames have been received (and dealt with); the commands
//                 after it wait for it, so a test can use it as a barrier
struct ControlCommand {
  enum class Kind {
    Ping,
    Frames,
    Fault,
    FaultsOff,
    Delay,
    Slow,
    LateMs,
    WireTime,
    InputsAuto,
    InputsFixed,
    Attributes,
    Factory,
    Save,
  };
  Kind kind = Kind::Ping;
  FaultKind fault = FaultKind::Drop;
  FaultRule rule;
  int number = 0;
  bool flag = false;  // wire-time on; "frames" with a count
  std::string name;
  int index = 0;
};

[[nodiscard]] std::optional<ControlCommand> ParseControl(std::string_view line, std::string& error);

}  // namespace kvtr::sim
