// kvtr through a network gateway: the simulated module behind kvtr-sim's TCP server, raw and
// RFC 2217, named tcp://127.0.0.1:PORT and rfc2217://127.0.0.1:PORT as an operator names a gateway.
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "integration/sim_fixture.h"
#include "unit/tools/cli/run_tool.h"

namespace kvtr::test {
namespace {

using kvtr::testing::ToolRun;

class NetworkPortOverSim : public SimFixture {
 protected:
  void SetUp() override { ::setenv("XDG_CONFIG_HOME", ScratchPath("config").c_str(), 1); }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    SimFixture::TearDown();
  }

  // A simulator behind a gateway of `kind` ("--tcp" or "--rfc2217") on a free port.
  SimProcess& Gateway(const std::string& kind, std::vector<std::string> extra = {}) {
    std::vector<std::string> options = {kind, "0", "--log", ScratchPath("frames.log"), "--inputs", "0"};
    options.insert(options.end(), extra.begin(), extra.end());
    return StartSim(options);
  }

  static ToolRun Kvtr(const SimProcess& sim, std::vector<std::string> args) {
    args.insert(args.end(), {"--port", sim.port()});
    return kvtr::testing::runTool("kvtr", args);
  }
};

TEST_F(NetworkPortOverSim, GetSetAndReadThroughEitherGateway) {
  for (const std::string kind : {"--tcp", "--rfc2217"}) {
    SCOPED_TRACE(kind);
    // The module listens at 19200; through RFC 2217 the program sets the gateway to it.
    SimProcess& sim = Gateway(kind, {"--baud", "19200"});
    ASSERT_TRUE(sim.running());
    EXPECT_EQ(sim.port().rfind(kind.substr(2) + "://127.0.0.1:", 0), 0u) << sim.port();

    ToolRun run = Kvtr(sim, {"set", "I.Flt:1=25", "--baud", "19200"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = Kvtr(sim, {"get", "dev", "I.Flt:1", "--baud", "19200"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "dev = KVTR\nI.Flt:1 = 25\n");

    const std::string file = ScratchPath("module" + kind + ".kvtr");
    run = Kvtr(sim, {"read", file, "--baud", "19200"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const ToolRun shown = kvtr::testing::runTool("kvtr", {"show", file});
    EXPECT_NE(shown.out.find("I.Flt:1 = 25  ["), std::string::npos) << shown.out;
    sim.Stop();
  }
}

TEST_F(NetworkPortOverSim, ALostConnectionEndsTheJobWith201NamingThePort) {
  SimProcess& sim = Gateway("--tcp", {"--delay-ms", "20"});
  ASSERT_TRUE(sim.running());
  const std::string port = sim.port();
  auto job = std::async(std::launch::async, [&] { return Kvtr(sim, {"read", ScratchPath("module.kvtr")}); });
  ASSERT_EQ(sim.Control("frames 10"), "ok");
  sim.Stop();
  ASSERT_EQ(job.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  const ToolRun run = job.get();
  EXPECT_EQ(run.exitCode, 201) << run.err;
  EXPECT_NE(run.err.find("Порт " + port + " пропал во время обмена (соединение со шлюзом разорвано?)"),
            std::string::npos)
      << run.err;
}

TEST_F(NetworkPortOverSim, AWrongSpeedSetOverRfc2217GetsNoAnswer) {
  SimProcess& sim = Gateway("--rfc2217");
  ASSERT_TRUE(sim.running());
  const ToolRun run = Kvtr(sim, {"get", "dev", "--baud", "19200"});
  EXPECT_EQ(run.exitCode, 202) << run.out << run.err;
  EXPECT_EQ(run.out.find("KVTR"), std::string::npos) << run.out;
  ASSERT_EQ(sim.Control("ping"), "ok");
  EXPECT_NE(sim.ErrorOutput().find("линия 19200 бод, стоп-бит 1, не нечетность; прибор 9600 бод"), std::string::npos)
      << sim.ErrorOutput();
}

}  // namespace
}  // namespace kvtr::test
