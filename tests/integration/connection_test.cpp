// Finding the module over a pseudo-terminal with the simulated module: the connection procedure
// behind both converter kinds and through the foreign protocols, the speed scan with what it
// keeps and puts back, its interruption, and the command-line jobs scan and aply.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings_store.h"
#include "exchange/connection.h"
#include "exchange/exchange_engine.h"
#include "exchange/group_operations.h"
#include "exchange/network_scan.h"
#include "integration/sim_fixture.h"
#include "protocol/network_settings.h"
#include "unit/tools/cli/run_tool.h"

namespace kvtr {
namespace {

using namespace std::chrono_literals;
using test::SimProcess;
using testing::runTool;

class StatusRecorder final : public ConnectionProgress {
 public:
  void SetStatus(const std::string& text, bool alarm) override {
    {
      std::lock_guard lock(mutex_);
      statuses_.push_back((alarm ? "!" : "") + text);
    }
    if (text == watchedText) watchedSeen.set();
  }
  std::vector<std::string> statuses() {
    std::lock_guard lock(mutex_);
    return statuses_;
  }
  std::string watchedText;
  Event watchedSeen{EventReset::Manual};

 private:
  std::mutex mutex_;
  std::vector<std::string> statuses_;
};

class ConnectionTest : public test::SimFixture {
 protected:
  void SetUp() override {
    // The tools read and write the port settings of this test only.
    ::setenv("XDG_CONFIG_HOME", ScratchPath("config").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    SimFixture::TearDown();
  }
  // An engine whose port settings point at the simulator.
  std::unique_ptr<ExchangeEngine> EngineFor(const SimProcess& sim) {
    DeviceLinkOptions o;
    o.state = &state_;
    o.portChoices = " ";
    auto engine = std::make_unique<ExchangeEngine>(o);
    engine->programPortNode().SetValueByName(kPortParameterName, sim.port());
    return engine;
  }
  LinkState state_;
};

TEST_F(ConnectionTest, TheSwitchCommandBringsAModuleBackFromEachForeignProtocol) {
  for (const char* protocol : {"rtu", "ascii", "percent"}) {
    SimProcess& sim = StartSim({"--protocol", protocol});
    ASSERT_TRUE(sim.running());
    auto engine = EngineFor(sim);
    EXPECT_EQ(engine->operations().IdentifyDevice(false), kIdentifyNoAnswer) << protocol;
    EXPECT_TRUE(Connect(*engine)) << protocol;
    EXPECT_EQ(state_.protocolMode.load(), 0);
    EXPECT_EQ(state_.linkStatus.load() & (link_status::kNoAnswer | link_status::kOtherDevice), 0u) << protocol;
    // The module speaks the device protocol again.
    EXPECT_EQ(engine->operations().IdentifyDevice(false), kIdentifyKvtr) << protocol;
    sim.Stop();
  }
}

TEST_F(ConnectionTest, AnotherDeviceSetsSixtyFour) {
  SimProcess& sim = StartSim({"--dev", "TRM-138"});
  ASSERT_TRUE(sim.running());
  auto engine = EngineFor(sim);
  EXPECT_FALSE(Connect(*engine));
  EXPECT_EQ(state_.linkStatus.load(), link_status::kOtherDevice);
  engine.reset();  // the port is opened for one program at a time

  const auto run = runTool("kvtr", {"identify", "--port", sim.port()});
  EXPECT_EQ(run.exitCode, 206) << run.err;
  EXPECT_NE(run.out.find("TRM-138"), std::string::npos) << run.out;
}

TEST_F(ConnectionTest, ScanFindsTheModuleAt19200AndKeepsThatSpeed) {
  SimProcess& sim = StartSim({"--baud", "19200"});
  ASSERT_TRUE(sim.running());
  const auto run = runTool("kvtr", {"scan", "--port", sim.port()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("bPS = 19200\nAddr = 16\ndev = KVTR\n"), std::string::npos) << run.out;
  // Progress names the speed and the converter tried; the verdict comes once, at the end, and no
  // failure is reported on the way to the speed that answers.
  EXPECT_NE(run.err.find("Поиск прибора: 14400 бод, преобразователь auto...\n"
                         "Поиск прибора: 14400 бод, преобразователь semi...\n"
                         "Поиск прибора: 19200 бод, преобразователь auto...\n"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(run.err.ends_with("\nСвязь с прибором установлена!\n")) << run.err;
  EXPECT_EQ(run.err.find("Не удалось"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("38400"), std::string::npos) << "the scan goes on after the module answered";
  // The program's port settings now hold the speed found: the next job needs no --baud.
  EXPECT_EQ(loadPortSettings(*openSettingsStore()).baudRate, 19200u);
  const auto get = runTool("kvtr", {"get", "dev", "--port", sim.port()});
  EXPECT_EQ(get.exitCode, 0) << get.err;
  EXPECT_EQ(get.out, "dev = KVTR\n");
}

TEST_F(ConnectionTest, AScanThatFindsNothingPutsTheOldSpeedBack) {
  // The module listens at 16..23; nobody answers at 100.
  SimProcess& sim = StartSim({});
  ASSERT_TRUE(sim.running());
  auto engine = EngineFor(sim);
  engine->programPortNode().SetValueByName("Addr", "100");
  engine->programPortNode().SetValueByName("bPS", "38400");
  StatusRecorder progress;
  ConnectionWorker worker(*engine, EngineIdentifier(*engine), engine->abortEvent(), progress);
  const auto start = std::chrono::steady_clock::now();
  const ScanOutcome out = worker.Scan();
  const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("scan of all %zu speeds against an absent module: %.1f s\n", out.tried.size(), took);
  EXPECT_FALSE(out.found);
  EXPECT_FALSE(out.interrupted);
  EXPECT_EQ(out.tried.size(), 9u);
  EXPECT_EQ(engine->programPortNode().GetValueByName("bPS"), "38400");
  EXPECT_EQ(engine->serialPort().settings().baudRate, 38400);
  EXPECT_TRUE(engine->serialPort().isOpen());
  EXPECT_EQ(progress.statuses().back(), "!Не удалось установить связь с прибором!");
}

TEST_F(ConnectionTest, AScanThatFindsNothingSaysSoOnceAndPointsToTheAddressSearch) {
  // The module listens at 40..47: a search at the stored address 16 cannot find it.
  SimProcess& sim = StartSim({"--address", "40"});
  ASSERT_TRUE(sim.running());
  const struct {
    std::vector<std::string> args;
    bool hint;
  } cases[] = {
      {{"scan", "--port", sim.port()}, true},
      {{"scan", "--port", sim.port(), "--addresses", "16-17"}, false},
  };
  for (const auto& c : cases) {
    const auto run = runTool("kvtr", c.args);
    EXPECT_EQ(run.exitCode, 202) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Поиск прибора: 115200 бод"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Не удалось"), std::string::npos) << run.err;
    const std::size_t verdict = run.err.find("kvtr scan: прибор не найден");
    ASSERT_NE(verdict, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("kvtr scan: прибор не найден", verdict + 1), std::string::npos) << "once: " << run.err;
    EXPECT_EQ(run.err.find("kvtr scan --addresses all") != std::string::npos, c.hint) << run.err;
  }
}

TEST_F(ConnectionTest, AddressSearchFindsAModuleWhoseSpeedAndAddressAreBothLost) {
  SimProcess& sim = StartSim({"--baud", "19200", "--address", "37"});
  ASSERT_TRUE(sim.running());
  const auto run = runTool("kvtr", {"scan", "--port", sim.port(), "--addresses", "30-40"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("bPS = 19200\nAddr = 37\ndev = KVTR\n"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("Поиск прибора: 9600 бод, преобразователь auto, адреса 30..40...\n"
                         "Поиск прибора: 2400 бод, преобразователь auto, адреса 30..40...\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("Поиск прибора: 19200 бод, преобразователь auto, адреса 30..40...\n"
                         "Связь с прибором установлена!\n"),
            std::string::npos)
      << run.err;
  const StoredPortSettings stored = loadPortSettings(*openSettingsStore());
  EXPECT_EQ(stored.baudRate, 19200u);
  EXPECT_EQ(stored.address, 37u);
  const auto get = runTool("kvtr", {"get", "Addr", "--port", sim.port()});
  EXPECT_EQ(get.out, "Addr = 37\n") << get.err;
}

TEST_F(ConnectionTest, AnInterruptedScanEndsAtTheSpeedItWasTrying) {
  SimProcess& sim = StartSim({});
  ASSERT_TRUE(sim.running());
  auto engine = EngineFor(sim);
  engine->programPortNode().SetValueByName("Addr", "100");
  StatusRecorder progress;
  progress.watchedText = ScanningAtSpeedText("4800");
  Event& abort = engine->abortEvent();
  abort.reset();
  ConnectionWorker worker(*engine, EngineIdentifier(*engine), abort, progress);
  worker.Start();
  worker.RequestScan();
  ASSERT_TRUE(progress.watchedSeen.wait(60s));
  abort.set();
  // Bounded by one identification (two exchanges of four sends at 4800), far below the rest of
  // the scan.
  ASSERT_TRUE(worker.workerEnded().wait(20s));
  worker.Join();
  const auto statuses = progress.statuses();
  EXPECT_EQ(statuses.back(), ScanningAtSpeedText("4800"));
  for (const std::string& s : statuses) EXPECT_NE(s.front(), '!') << "no failure is shown after an interruption";
  EXPECT_EQ(engine->programPortNode().GetValueByName("bPS"), "9600");
}

TEST_F(ConnectionTest, AplyMovesTheModuleToANewSpeedAndAddress) {
  SimProcess& sim = StartSim({});
  ASSERT_TRUE(sim.running());
  const auto run = runTool("kvtr", {"aply", "--port", sim.port(), "--new-baud", "19200", "--new-address", "21"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("bPS = 19200\nAddr = 21\nAPLY: послан\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Скорость: 19200\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Адрес: 21"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("dev = KVTR\n"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("Прибор отвечает при новых настройках.\n"), std::string::npos) << run.err;

  const StoredPortSettings stored = loadPortSettings(*openSettingsStore());
  EXPECT_EQ(stored.baudRate, 19200u);
  EXPECT_EQ(stored.address, 21u);
  EXPECT_EQ(runTool("kvtr", {"get", "dev", "--port", sim.port()}).exitCode, 0);
  const auto old = runTool("kvtr", {"get", "dev", "--port", sim.port(), "--baud", "9600", "--address", "16"});
  EXPECT_EQ(old.exitCode, 202) << "the module no longer answers at the old settings";
}

TEST_F(ConnectionTest, AplyRefusesACombinationTheModuleCannotHold) {
  SimProcess& sim = StartSim({});
  ASSERT_TRUE(sim.running());
  const auto refused = runTool("kvtr", {"aply", "--port", sim.port(), "--new-address", "300"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("Неудалось изменить значение"), std::string::npos) << refused.err;
  // With 11-bit addressing given as well the order of the options does not matter.
  const auto taken =
      runTool("kvtr", {"aply", "--port", sim.port(), "--new-address", "300", "--new-address-length", "11"});
  EXPECT_EQ(taken.exitCode, 0) << taken.err;
  EXPECT_NE(taken.out.find("A.Len = 11\nAddr = 300\n"), std::string::npos) << taken.out;
}

}  // namespace
}  // namespace kvtr
