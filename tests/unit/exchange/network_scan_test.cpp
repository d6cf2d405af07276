// The connection dialog's worker over a scripted line: the speeds tried and kept, the status
// lines, the factory settings and the worker thread's requests and end.
#include "exchange/network_scan.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/network_settings.h"
#include "unit/protocol/scripted_link.h"

namespace kvtr {
namespace {

using test::ScriptedLink;

class RecordingProgress final : public ConnectionProgress {
 public:
  void SetStatus(const std::string& text, bool alarm) override {
    std::lock_guard lock(mutex_);
    statuses.push_back((alarm ? "!" : "") + text);
  }
  void SettingChanged(const std::string& name, const std::string& value) override {
    std::lock_guard lock(mutex_);
    changes.push_back(name + "=" + value);
  }
  void SettingsLocked(bool locked) override {
    std::lock_guard lock(mutex_);
    lockDepth += locked ? 1 : -1;
    EXPECT_GE(lockDepth, 0);
  }
  void Connected() override {
    ++connected;
    connectedEvent.set();
  }

  std::mutex mutex_;
  std::vector<std::string> statuses;
  std::vector<std::string> changes;
  int lockDepth = 0;
  std::atomic<int> connected{0};
  Event connectedEvent{EventReset::Manual};
};

class NetworkScanTest : public test::ScriptedLinkTest {
 protected:
  // The module answers only at `speed`: the identification looks at the speed the link took
  // from the port settings when it opened.
  DeviceIdentifier moduleAt(int speed) {
    return [this, speed] {
      speedsIdentified_.push_back(link_.serialPort().settings().baudRate);
      return link_.serialPort().settings().baudRate == speed ? kIdentifyKvtr : kIdentifyNoAnswer;
    };
  }
  std::string speedSetting() { return link_.programPortNode().GetValueByName("bPS"); }
  // The module answers only at `speed` and `address`; each request records the sends the link
  // would make on a time-out.
  DeviceIdentifier moduleAt(int speed, int address) {
    return [this, speed, address] {
      sendsAsked_.push_back(link_.timeoutSends());
      const SerialSettings& s = link_.serialPort().settings();
      return s.baudRate == speed && s.baseAddress == address ? kIdentifyKvtr : kIdentifyNoAnswer;
    };
  }

  Event abort_{EventReset::Manual};
  RecordingProgress progress_;
  std::vector<int> speedsIdentified_;
  std::vector<int> sendsAsked_;
};

TEST_F(NetworkScanTest, KeepsTheSpeedTheModuleAnswersAt) {
  ConnectionWorker worker(link_, moduleAt(19200), abort_, progress_);
  const ScanOutcome out = worker.Scan();
  EXPECT_TRUE(out.found);
  EXPECT_EQ(out.speed, "19200");
  EXPECT_EQ(out.previousSpeed, "9600");
  EXPECT_EQ(out.tried, (std::vector<std::string>{"2400", "4800", "9600", "14400", "19200"}));
  EXPECT_EQ(speedSetting(), "19200");
  EXPECT_EQ(link_.serialPort().settings().baudRate, 19200);
  // Each speed that stays silent is tried behind both converter kinds.
  EXPECT_EQ(speedsIdentified_, (std::vector<int>{2400, 2400, 4800, 4800, 9600, 9600, 14400, 14400, 19200}));
  EXPECT_EQ(progress_.statuses.front(), "Идет сканирование на скорости 2400...");
  EXPECT_EQ(progress_.statuses[4], "Идет сканирование на скорости 19200...");
  EXPECT_EQ(progress_.statuses.back(), "Связь установлена!");
  EXPECT_EQ(progress_.changes.back(), "bPS=19200");
  EXPECT_EQ(progress_.connected.load(), 1);
  EXPECT_EQ(progress_.lockDepth, 0);
}

TEST_F(NetworkScanTest, PutsTheOldSpeedBackWhenNothingAnswers) {
  link_.programPortNode().SetValueByName("bPS", "38400");
  ConnectionWorker worker(link_, moduleAt(0), abort_, progress_);
  const ScanOutcome out = worker.Scan();
  EXPECT_FALSE(out.found);
  EXPECT_FALSE(out.interrupted);
  EXPECT_EQ(out.tried.size(), 9u);
  EXPECT_EQ(out.tried.back(), "115200");
  EXPECT_EQ(speedSetting(), "38400");
  EXPECT_EQ(progress_.changes.back(), "bPS=38400");
  // The port goes back to the speed the settings show, not the last one tried.
  EXPECT_EQ(link_.serialPort().settings().baudRate, 38400);
  EXPECT_EQ(progress_.statuses.back(), "!Не удалось установить связь с прибором!");
  EXPECT_EQ(progress_.connected.load(), 0);
  EXPECT_EQ(progress_.lockDepth, 0);
}

TEST_F(NetworkScanTest, AnInterruptionEndsTheScanWithoutAFailureStatus) {
  // The operator stops the scan while the module is asked at 4800.
  auto identify = [&] {
    if (link_.serialPort().settings().baudRate == 4800) abort_.set();
    return kIdentifyNoAnswer;
  };
  ConnectionWorker worker(link_, identify, abort_, progress_);
  const std::size_t switchesBefore = link_.modes.size();
  const ScanOutcome out = worker.Scan();
  EXPECT_TRUE(out.interrupted);
  EXPECT_EQ(out.tried, (std::vector<std::string>{"2400", "4800"}));
  EXPECT_EQ(speedSetting(), "9600");
  EXPECT_EQ(link_.serialPort().settings().baudRate, 9600);
  for (const std::string& s : progress_.statuses) EXPECT_NE(s.front(), '!') << s;
  // At 2400 all three switch commands went out (four sends each); at 4800 none.
  EXPECT_EQ(link_.modes.size() - switchesBefore, 12u);
  EXPECT_EQ(progress_.lockDepth, 0);
}

TEST_F(NetworkScanTest, ConnectNowReportsTheOutcomeOnce) {
  {
    ConnectionWorker worker(link_, moduleAt(9600), abort_, progress_);
    EXPECT_TRUE(worker.ConnectNow());
    EXPECT_EQ(progress_.statuses, (std::vector<std::string>{"Связь установлена!"}));
    EXPECT_EQ(progress_.connected.load(), 1);
  }
  progress_.statuses.clear();
  {
    ConnectionWorker worker(link_, moduleAt(19200), abort_, progress_);
    EXPECT_FALSE(worker.ConnectNow());
    EXPECT_EQ(progress_.statuses, (std::vector<std::string>{"!Не удалось установить связь с прибором!"}));
  }
  progress_.statuses.clear();
  abort_.set();
  {
    ConnectionWorker worker(link_, moduleAt(9600), abort_, progress_);
    EXPECT_FALSE(worker.ConnectNow());
    EXPECT_TRUE(progress_.statuses.empty()) << "no failure is shown after an interruption";
  }
  EXPECT_EQ(progress_.lockDepth, 0);
}

TEST_F(NetworkScanTest, FactorySettingsLeaveThePortAlone) {
  NetRS485prg& node = link_.programPortNode();
  for (const auto& [name, value] : {std::pair{"bPS", "57600"}, {"LEn", "7"}, {"PrtY", "Нечетность"}, {"Sbit", "2"},
                                    {"A.Len", "11"}, {"Addr", "300"}}) {
    node.SetValueByName(name, value);
  }
  const auto written = ApplyFactoryNetworkSettings(node);
  EXPECT_EQ(written, (std::vector<std::pair<std::string, std::string>>{
                         {"bPS", "9600"}, {"LEn", "8"}, {"PrtY", "Отсутствует"}, {"Sbit", "1"}, {"A.Len", "8"},
                         {"Addr", "16"}}));
  EXPECT_EQ(node.GetValueByName(kPortParameterName), "/nonexistent/kvtr-test-port");
  EXPECT_EQ(node.GetValueByName("Addr"), "16");
}

TEST_F(NetworkScanTest, TheWorkerThreadRunsRequestsUntilTheAbortEvent) {
  ConnectionWorker worker(link_, moduleAt(14400), abort_, progress_);
  std::atomic<bool> endedSeen{false};
  abort_.set();  // as the worker of an earlier dialog was ended
  worker.Start([&] { endedSeen = worker.workerEnded().isSet(); });
  worker.RequestScan();
  ASSERT_TRUE(progress_.connectedEvent.wait(std::chrono::seconds(30)));
  EXPECT_EQ(speedSetting(), "14400");
  EXPECT_FALSE(worker.workerEnded().isSet());
  abort_.set();
  ASSERT_TRUE(worker.workerEnded().wait(std::chrono::seconds(30)));
  worker.Join();
  EXPECT_TRUE(endedSeen.load()) << "the end is signalled before the dialog is told";
  EXPECT_EQ(progress_.connected.load(), 1);
}

TEST_F(NetworkScanTest, AddressSearchAsksEachAddressOnceAtTheCurrentSpeedThenAtTheOthers) {
  {
    ConnectionWorker worker(link_, moduleAt(9600, 37), abort_, progress_);
    const ScanOutcome out = worker.SearchAddresses(30, 40);
    EXPECT_TRUE(out.found);
    EXPECT_EQ(out.address, "37");
    EXPECT_EQ(out.previousAddress, "16");
    EXPECT_EQ(out.probes, 8);
    EXPECT_EQ(out.tried, (std::vector<std::string>{"9600"}));
    EXPECT_EQ(link_.programPortNode().GetValueByName("Addr"), "37");
    EXPECT_EQ(progress_.statuses,
              (std::vector<std::string>{"Поиск по адресам 30..40 на скорости 9600...", "Связь установлена!"}));
    EXPECT_EQ(progress_.changes.back(), "Addr=37");
  }
  EXPECT_EQ(sendsAsked_, std::vector<int>(8, 1)) << "a silent address is asked once";
  EXPECT_EQ(link_.timeoutSends(), 4) << "the link gets its retries back";

  // Both lost: the speed of the settings first, then the list in its order without it.
  link_.programPortNode().SetValueByName("Addr", "16");
  ConnectionWorker worker(link_, moduleAt(19200, 3), abort_, progress_);
  const ScanOutcome out = worker.SearchAddresses(0, 10);
  EXPECT_TRUE(out.found);
  EXPECT_EQ(out.tried, (std::vector<std::string>{"9600", "2400", "4800", "14400", "19200"}));
  EXPECT_EQ(out.probes, 4 * 11 + 4);
  EXPECT_EQ(speedSetting(), "19200");
  EXPECT_EQ(link_.serialPort().settings().baudRate, 19200);
  EXPECT_EQ(link_.serialPort().settings().baseAddress, 3);
  EXPECT_EQ(progress_.lockDepth, 0);
  EXPECT_EQ(progress_.connected.load(), 2);
}

TEST_F(NetworkScanTest, AnAddressSearchThatFindsNothingPutsSpeedAndAddressBack) {
  link_.programPortNode().SetValueByName("bPS", "38400");
  link_.programPortNode().SetValueByName("Addr", "20");
  ConnectionWorker worker(link_, moduleAt(0, 0), abort_, progress_);
  const ScanOutcome out = worker.SearchAddresses(5, 7);
  EXPECT_FALSE(out.found);
  EXPECT_FALSE(out.interrupted);
  EXPECT_EQ(out.tried.size(), 9u);
  EXPECT_EQ(out.tried.front(), "38400");
  EXPECT_EQ(out.probes, 27);
  EXPECT_EQ(speedSetting(), "38400");
  EXPECT_EQ(link_.programPortNode().GetValueByName("Addr"), "20");
  EXPECT_EQ(link_.serialPort().settings().baudRate, 38400);
  EXPECT_EQ(link_.serialPort().settings().baseAddress, 20);
  EXPECT_EQ(link_.timeoutSends(), 4);
  EXPECT_EQ(progress_.statuses.back(), "!Не удалось установить связь с прибором!");
  EXPECT_EQ(progress_.lockDepth, 0);

  // Stopped at address 6 of the first speed: nothing more goes out, nothing is shown as failed.
  progress_.statuses.clear();
  int asked = 0;
  ConnectionWorker stopped(link_,
                           [&] {
                             ++asked;
                             if (link_.serialPort().settings().baseAddress == 6) abort_.set();
                             return kIdentifyNoAnswer;
                           },
                           abort_, progress_);
  const ScanOutcome interrupted = stopped.SearchAddresses(5, 7);
  EXPECT_TRUE(interrupted.interrupted);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(link_.programPortNode().GetValueByName("Addr"), "20");
  for (const std::string& text : progress_.statuses) EXPECT_NE(text.front(), '!') << text;
}

}  // namespace
}  // namespace kvtr
