// The simulator's event loop: reads its end of the line, cuts frames, lets
// the module answer the frames it hears, puts the faults on the answers, paces them like a wire
// when asked, and takes commands from the control channel. One thread: like the module it
// stands for, it does one thing at a time, and what arrives while it answers waits in the
// line's buffer.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/fault_injector.h"
#include "sim/frame_assembler.h"
#include "sim/frame_log.h"
#include "sim/line_endpoint.h"
#include "sim/sim_module.h"
#include "sim/sim_options.h"

namespace kvtr::sim {

struct ServerSettings {
  bool wireTime = false;
  std::filesystem::path stateFile;  // empty: nothing is kept
};

class SimServer {
 public:
  SimServer(SimModule& module, FaultInjector& faults, LineEndpoint& line, FrameLog& log, ServerSettings settings);

  // Serves until `stopFd` becomes readable (the signal handlers write to it), or, when
  // `controlEndsRun`, until the control channel reaches its end. `controlFd` is -1 without a
  // control channel. Returns 0, or 1 when the line failed.
  int Run(int stopFd, int controlFd, bool controlEndsRun);

  // Milliseconds since the server was made: the module's clock.
  [[nodiscard]] Millis Now() const;
  // Writes the module's memory to the state file; true when there is none.
  bool SaveState(std::string& error);
  // Runs one control command; returns the acknowledgement line ("ok" or "error: ...").
  std::string Execute(const ControlCommand& command);

 private:
  using Clock = std::chrono::steady_clock;

  void Process(const ReceivedFrame& frame);
  // Waits until `until`; false when a stop was requested meanwhile.
  bool WaitUntil(Clock::time_point until);
  void Send(const std::string& bytes, double characterMs, int gapMs);
  void ReadControl(int fd, bool endsRun);
  void RunQueuedCommands();
  void AnswerWaits();
  void Acknowledge(const std::string& answer);

  SimModule& module_;
  FaultInjector& faults_;
  LineEndpoint& line_;
  std::string toldMismatch_;  // the last mismatch said on the standard error
  FrameLog& log_;
  ServerSettings settings_;
  FrameAssembler assembler_;
  Clock::time_point start_;
  int stopFd_ = -1;
  bool stop_ = false;
  std::string controlBuffer_;
  std::uint64_t framesReceived_ = 0;
  std::vector<std::uint64_t> waits_;  // "frames N" still waiting, at most one at a time
  std::vector<std::uint16_t> otherHashes_;
  std::vector<std::uint16_t> others_;  // kept between answers: no allocation per answer
};

}  // namespace kvtr::sim
