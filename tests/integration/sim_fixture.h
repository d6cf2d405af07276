// Running the simulated module (kvtr-sim) from a test.
//
//   class MyTest : public kvtr::test::SimFixture {};
//   TEST_F(MyTest, ReadsTheDeviceName) {
//     kvtr::test::SimProcess& sim = StartSim({"--baud", "19200", "--log", ScratchPath("frames.log")});
//     ASSERT_TRUE(sim.running());
//     // open sim.port() as the serial port, at 19200 8N1, address 16 ...
//     EXPECT_EQ(sim.Control("fault drop first 3"), "ok");   // the next three answers are lost
//   }
//
// The simulator is started with posix_spawn from KVTR_BIN_DIR, with "--control -" added: its
// standard input is the control channel (one command a line, answered on its standard output
// with "ok" or "error: ..."), and the end of its standard input ends it, so a test that dies
// leaves no simulator behind. The first line of its standard output is the slave path (with
// "--tcp 0" or "--rfc2217 0", the name of the simulated gateway's port). It is stopped by its
// process id: SIGTERM, then waitpid; never by name. Starting one makes the test process ignore
// SIGPIPE, so that a command written to a simulator that has died fails instead of ending the
// test.
//
// Control commands a test will want (all are listed by "kvtr-sim --help"):
//   frames N              answered once the simulator has received and dealt with N frames since
//                         it started: the barrier to use before looking at its log or after a
//                         request that gets no answer ("frames" alone answers "ok <count>")
//   fault KIND first N | every N | probability P | off, faults off
//                         KIND: drop garbage lost-start bad-crc other-hash late
//   delay MS, slow MS, late-ms MS, wire-time on|off, inputs auto|MASK, attr NAME INDEX BYTE,
//   factory, save, ping
//
// What the simulated module does by default: 9600 8N1, address 16, 8-bit addressing, the
// descriptor kvtr.tree.dat beside the programs, "dev" answers KVTR. It hears the addresses
// 16..23: an indexed parameter may carry its index in the 3 low address bits, so a request for an
// indexed parameter to address 17 is answered with index 1 (a request for any other parameter to
// 17 is not). Its inputs change by themselves unless "--inputs MASK" fixes them. The options are
// listed by "kvtr-sim --help" and in tools/sim/sim_options.cpp.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kvtr::test {

class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // The simulator program of this build.
  [[nodiscard]] static std::filesystem::path ProgramPath();

  // Starts the simulator with the options and waits (up to `timeout`) for the slave path. On
  // failure returns false with the reason, including what the simulator wrote to its standard
  // error, in `error`.
  bool Start(const std::vector<std::string>& options, std::string* error = nullptr,
             std::chrono::milliseconds timeout = std::chrono::seconds(20));

  [[nodiscard]] bool running() const { return pid_ > 0; }
  [[nodiscard]] pid_t pid() const { return pid_; }
  // The slave path or the gateway's port name, for opening the simulated line.
  [[nodiscard]] const std::string& port() const { return port_; }

  // Sends one control command and waits for its answer: "ok", "error: ...", or "" when none
  // came in time (or the simulator is not running).
  std::string Control(const std::string& command, std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // Stops the simulator (SIGTERM) and waits for it. Returns its exit status, 128 + the signal
  // when a signal ended it, or -1 when it was not running. A simulator that does not end within
  // `timeout` is killed (SIGKILL, by its id).
  int Stop(std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // What the simulator wrote to its standard error so far.
  [[nodiscard]] std::string ErrorOutput() const;

 private:
  // Reads one line of the simulator's standard output; false on time-out or end.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int input_ = -1;   // the simulator's standard input (its control channel)
  int output_ = -1;  // its standard output
  std::string outputBuffer_;
  std::string port_;
  std::filesystem::path errorFile_;
};

// Starts simulators on request, gives each test a scratch folder, and stops every simulator and
// removes the folder when the test ends.
class SimFixture : public ::testing::Test {
 protected:
  void TearDown() override;

  // Starts a simulator; a failure to start is reported as a test failure, and the process
  // returned is then not running (check with ASSERT_TRUE(sim.running())).
  SimProcess& StartSim(const std::vector<std::string>& options = {});
  // A path in this test's scratch folder (the folder is made on first use).
  std::string ScratchPath(const std::string& name);
  // Points the programs' settings and named events into the scratch folder, so that a tool started
  // by the test keeps this test's settings only; undone when the test ends.
  void UseScratchSettings();

 private:
  std::vector<std::unique_ptr<SimProcess>> sims_;
  std::filesystem::path scratch_;
  bool scratchSettings_ = false;
};

}  // namespace kvtr::test
