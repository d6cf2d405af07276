#include "exchange/polling.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "exchange/exchange_engine.h"
#include "model/desc_branch.h"
#include "unit/exchange/fake_module_engine.h"

namespace kvtr {
namespace {

using namespace std::chrono_literals;

class ResultRecorder : public ScanResultSink {
 public:
  void scanResult(const ScanResult& result) override {
    std::lock_guard lock(mutex_);
    results_.push_back(result);
  }
  std::vector<ScanResult> results() const {
    std::lock_guard lock(mutex_);
    return results_;
  }
  int countOf(const Parameter* p) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& r : results_) n += r.parameter == p ? 1 : 0;
    return n;
  }
  std::size_t size() const {
    std::lock_guard lock(mutex_);
    return results_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<ScanResult> results_;
};

template <typename F>
bool eventually(F condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(2ms);
  }
  return condition();
}

class PollingTest : public test::FakeModuleTest {
 protected:
  PollingTest() : FakeModuleTest(ManualClock::Mode::Manual) {}

  Parameter& Scanner(DescBranch& branch, const std::string& name, const std::string& moduleValue, int periodMs,
                     int index = 0) {
    Parameter& p = branch.AddParameter(name, "int", name);
    p.hasIndex = 1;
    p.index = index;
    p.scanPeriodMs = periodMs;
    engine.Define(p, moduleValue);
    EXPECT_TRUE(CreateScanner(p, clock));
    return p;
  }

  DescBranch scanners{"Сканеры", 1, 1, 0, 0};
  ResultRecorder sink;
};

TEST_F(PollingTest, ScanOnceReadsIntoTheResultAndLeavesTheParameterToItsOwner) {
  Parameter& p = Scanner(scanners, "r.cn", "5", 100, 7);
  p.attributeMode = 1;
  Polling& polling = engine.polling();
  EXPECT_EQ(p.scanId, 7u);
  EXPECT_EQ(polling.ScanOnce(p), kScanNotArmed);
  EXPECT_EQ(polling.ArmScanner(p), 0);
  EXPECT_EQ(polling.ArmScanner(p), 1) << "already armed";
  EXPECT_EQ(polling.ScanOnce(p), kScanNoReceiver);

  polling.setResultSink(&sink);
  EXPECT_EQ(polling.ScanOnce(p), kScanPosted);
  ASSERT_EQ(sink.size(), 1u);
  ScanResult r = sink.results()[0];
  EXPECT_EQ(r.scanId, 7u);
  EXPECT_EQ(r.parameter, &p);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.valueText, "5");
  EXPECT_TRUE(r.errorText.empty());
  EXPECT_LE(r.scanStart, r.scanEnd);
  EXPECT_EQ(p.value, "Нет данных") << "the polling thread never writes the tree";
  for (const auto& request : engine.Requests()) EXPECT_NE(request.hash, kAttributesHash) << "a polled parameter has no attribute exchange";
  ApplyScanResult(r);
  EXPECT_EQ(p.value, "5");

  engine.allSilent = true;
  EXPECT_EQ(polling.ScanOnce(p), kScanPosted);
  r = sink.results()[1];
  EXPECT_NE(r.result, 0);
  EXPECT_TRUE(r.valueText.empty());
  EXPECT_EQ(r.errorText, "Таймаут при передаче данных (нет связи)");
  ApplyScanResult(r);
  EXPECT_EQ(p.value, "5");
  EXPECT_EQ(p.comment, "Таймаут при передаче данных (нет связи)");

  EXPECT_EQ(polling.DisarmScanner(p), 0);
  EXPECT_EQ(polling.DisarmScanner(p), 1) << "not armed";
  EXPECT_EQ(polling.ScanOnce(p), kScanNotArmed) << "disarmed between expiry and processing: nothing posted";
  EXPECT_EQ(sink.size(), 2u);
}

TEST_F(PollingTest, EachScannerIsReadAtItsOwnPeriod) {
  Parameter& fast = Scanner(scanners, "r.cn", "1", 100);
  Parameter& slow = Scanner(scanners, "r.cou", "2", 300);
  Parameter& idle = Scanner(scanners, "r.oe", "3", 100);  // never armed
  Polling& polling = engine.polling();
  polling.setResultSink(&sink);
  ASSERT_EQ(polling.ArmScanner(fast), 0);
  ASSERT_EQ(polling.ArmScanner(slow), 0);
  ASSERT_EQ(polling.StartScanThread(scanners), 0);
  EXPECT_EQ(polling.StartScanThread(scanners), 0) << "one polling thread";

  for (int step = 1; step <= 6; ++step) {
    clock.advance(100ms);
    const std::size_t expected = static_cast<std::size_t>(step + step / 3);
    ASSERT_TRUE(eventually([&] { return sink.size() == expected; })) << "step " << step << ": " << sink.size();
  }
  EXPECT_EQ(sink.countOf(&fast), 6);
  EXPECT_EQ(sink.countOf(&slow), 2);
  EXPECT_EQ(sink.countOf(&idle), 0);

  // Disarmed, a scanner is no longer read; the others go on.
  ASSERT_EQ(polling.DisarmScanner(fast), 0);
  clock.advance(300ms);
  ASSERT_TRUE(eventually([&] { return sink.countOf(&slow) == 3; }));
  EXPECT_EQ(sink.countOf(&fast), 6);

  EXPECT_EQ(engine.Shutdown(), 1);
  EXPECT_FALSE(polling.scanThreadRunning());
  EXPECT_FALSE(slow.scanArmed.load()) << "the ending thread disarms its scanners";
}

TEST_F(PollingTest, ThreadWithoutScannersWaitsForTheStopAlone) {
  Polling& polling = engine.polling();
  ASSERT_EQ(polling.StartScanThread(std::vector<Parameter*>{}), 0);
  EXPECT_TRUE(polling.scanThreadRunning());
  EXPECT_EQ(engine.Shutdown(), 1);
  EXPECT_FALSE(polling.scanThreadRunning());
}

TEST_F(PollingTest, EngineGivesEveryScannerItsTimerAndKeepsTheArmedOnes) {
  Parameter& first = scanners.AddParameter("r.cn", "int", "");
  auto& child = scanners.AddChild(std::make_unique<DescBranch>("Счетчики", 1, 1, 0, 0));
  Parameter& second = child.AddParameter("r.cou", "int", "");
  Parameter& third = scanners.AddParameter("r.oe", "int", "");
  ASSERT_EQ(engine.StartScanThread(scanners), 0);
  EXPECT_TRUE(first.isPolled());
  EXPECT_TRUE(second.isPolled());
  EXPECT_EQ(CollectScanners(scanners), (std::vector<Parameter*>{&first, &third, &second}))
      << "a branch's own parameters first, then its children";
  ASSERT_EQ(engine.polling().ArmScanner(third), 0);
  const ScanTimerHook* hook = third.scanTimer.get();
  EXPECT_EQ(engine.StartScanThread(scanners), 0);
  EXPECT_EQ(third.scanTimer.get(), hook) << "a running thread is not started twice";
  EXPECT_EQ(engine.Shutdown(), 1);
}

TEST(ScanPeriod, WholeMillisecondsOfAtLeastOneHundred) {
  const struct {
    const char* text;
    bool accepted;
    int value;
  } rows[] = {
      {"100", true, 100}, {"1000", true, 1000}, {"99", false, 0}, {"0", false, 0},     {"", false, 0},
      {"100.5", false, 0}, {"-100", false, 0}, {" 100", false, 0}, {"1e3", false, 0}, {"9999999999", false, 0},
  };
  for (const auto& row : rows) {
    int value = -1;
    EXPECT_EQ(AcceptScanPeriod(row.text, value), row.accepted) << row.text;
    if (row.accepted) EXPECT_EQ(value, row.value) << row.text;
    else EXPECT_EQ(value, -1) << row.text;
  }
}

}  // namespace
}  // namespace kvtr
