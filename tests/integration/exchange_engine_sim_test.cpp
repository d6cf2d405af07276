// The exchange engine over a pseudo-terminal with the simulated module: the transmit thread
// opens a closed port itself, and Shutdown ends the threads within its limit whatever the line
// does (no answer, an answer that trickles in, a port that disappears).
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>
#include <string>

#include <gtest/gtest.h>

#include "exchange/exchange_engine.h"
#include "exchange/polling.h"
#include "integration/module_state.h"
#include "integration/sim_fixture.h"
#include "model/descriptor_loader.h"
#include "model/parameter_tree.h"
#include "protocol/network_settings.h"

namespace kvtr::test {
namespace {

using namespace std::chrono_literals;

class EngineOverSim : public SimFixture {
 protected:
  void SetUp() override {
    log = ScratchPath("frames.log");
    SilentUserInterface ui;
    ASSERT_TRUE(LoadDescriptor(tree, std::string(KVTR_BIN_DIR) + "/kvtr.tree.dat", ui).complete);
    DeviceLinkOptions options;
    options.ui = &silent;
    options.state = &state;
    options.portChoices = " ";
    engine = std::make_unique<ExchangeEngine>(options);
    engine->setClosingGrace(Clock::Duration::zero());
  }
  void TearDown() override {
    engine.reset();
    SimFixture::TearDown();
  }

  bool Connect(SimProcess& sim) {
    engine->programPortNode().SetValueByName(kPortParameterName, sim.port());
    return engine->OpenLink(false) == 0;
  }

  // How long Shutdown takes while a read of the whole module runs into what the line does.
  Clock::Duration ShutdownDuringRead() {
    EXPECT_TRUE(engine->BeginTask(TaskKind::ReadAll, tree.root()));
    // The read is under way once the module has heard its first request.
    for (int i = 0; i < 2000 && HeardFrames(log).empty(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(HeardFrames(log).empty());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(engine->Shutdown(), 1);
    const auto took = std::chrono::steady_clock::now() - start;
    TaskOutcome outcome;
    EXPECT_TRUE(engine->WaitForTask(0s, &outcome)) << "the task has completed";
    EXPECT_TRUE(outcome.interrupted);
    EXPECT_FALSE(engine->transmitThreadRunning());
    return took;
  }

  std::string log;
  SilentUserInterface silent;
  LinkState state;
  ParameterTree tree;
  std::unique_ptr<ExchangeEngine> engine;
};

TEST_F(EngineOverSim, ShutdownEndsATaskOnALineThatNeverAnswers) {
  SimProcess& sim = StartSim({"--drop-probability", "1", "--log", log});
  ASSERT_TRUE(sim.running());
  ASSERT_TRUE(Connect(sim));
  EXPECT_LT(ShutdownDuringRead(), 3500ms);
}

TEST_F(EngineOverSim, ShutdownEndsATaskOnAnAnswerThatTricklesIn) {
  SimProcess& sim = StartSim({"--slow-reply", "400", "--log", log});
  ASSERT_TRUE(sim.running());
  ASSERT_TRUE(Connect(sim));
  EXPECT_LT(ShutdownDuringRead(), 3500ms);
}

TEST_F(EngineOverSim, APortThatDisappearsEndsTheTaskAndShutdownStillKeepsItsLimit) {
  SimProcess& sim = StartSim({"--delay-ms", "20"});
  ASSERT_TRUE(sim.running());
  ASSERT_TRUE(Connect(sim));
  ASSERT_TRUE(engine->BeginTask(TaskKind::ReadAll, tree.root()));
  ASSERT_EQ(sim.Control("frames 3"), "ok");
  sim.Stop();
  TaskOutcome outcome;
  ASSERT_TRUE(engine->WaitForTask(30s, &outcome)) << "the walk runs out on a port that is gone";
  EXPECT_GT(outcome.counts.failed, 0);
  EXPECT_FALSE(engine->serialPort().isOpen());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(engine->Shutdown(), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3500ms);
}

TEST_F(EngineOverSim, TheTransmitThreadOpensAClosedPortForItsTaskAndClosesItAfter) {
  SimProcess& sim = StartSim();
  ASSERT_TRUE(sim.running());
  engine->serialPort().settings().portName = sim.port();
  ASSERT_FALSE(engine->serialPort().isOpen());
  Parameter* filter = nullptr;
  ParameterTree::ForEachParameter(*tree.root(), [&](Parameter& p) {
    if (filter == nullptr && p.name == "I.Flt") filter = &p;
  });
  ASSERT_NE(filter, nullptr);
  TaskOutcome outcome;
  ASSERT_TRUE(engine->StartSingleTask(TaskKind::ReadOne, filter, &outcome));
  EXPECT_EQ(outcome.result, 0) << filter->comment;
  EXPECT_EQ(filter->value, "10");
  EXPECT_TRUE(engine->WaitForTask(1s));
  // The port is closed again before the thread waits for its next task.
  for (int i = 0; i < 500 && engine->serialPort().isOpen(); ++i) std::this_thread::sleep_for(2ms);
  EXPECT_FALSE(engine->serialPort().isOpen());
}

TEST_F(EngineOverSim, PollingStartedWithTheTreeReadsArmedScanners) {
  SimProcess& sim = StartSim({"--inputs", "9"});
  ASSERT_TRUE(sim.running());
  ASSERT_TRUE(Connect(sim));
  ASSERT_NE(tree.scanners(), nullptr);
  struct Sink : ScanResultSink {
    void scanResult(const ScanResult& r) override {
      std::lock_guard lock(mutex);
      results.push_back(r);
      if (results.size() >= 3) done.set();
    }
    std::mutex mutex;
    std::vector<ScanResult> results;
    Event done{EventReset::Manual};
  } sink;
  engine->polling().setResultSink(&sink);
  ASSERT_EQ(engine->StartScanThread(*tree.scanners()), 0);
  Parameter* inputs = tree.scanners()->FindParameter("r.Cn");
  ASSERT_NE(inputs, nullptr);
  ASSERT_TRUE(inputs->isPolled());
  inputs->scanPeriodMs = 100;
  ASSERT_EQ(engine->polling().ArmScanner(*inputs), 0);
  ASSERT_TRUE(sink.done.wait(10s));
  EXPECT_EQ(engine->Shutdown(), 1);
  std::lock_guard lock(sink.mutex);
  for (const ScanResult& r : sink.results) {
    EXPECT_EQ(r.parameter, inputs);
    EXPECT_EQ(r.valueText, "9");
  }
}

}  // namespace
}  // namespace kvtr::test
