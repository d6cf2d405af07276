// Start-up and the job of the application without a line: communication is off ("silent") or the
// connection check is replaced, so that what is tested is the order of the steps, the job and its
// watchers, the files and the exit codes. The jobs against the simulated module are in the
// integration tests.
#include "app/application.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include "app/named_event.h"
#include "app/settings_store.h"
#include "protocol/network_settings.h"
#include "unit/model/recording_user_interface.h"
#include "unit/model/scratch_folder.h"

namespace kvtr {
namespace {

using namespace std::chrono_literals;

// A main window that records what it is asked, and runs posted commands when told to.
class RecordingShell : public ApplicationShell {
 public:
  ConnectionChoice ShowConnectionDialog(ExchangeEngine&) override {
    std::lock_guard lock(mutex_);
    ++dialogs;
    return choice;
  }
  bool PostCommand(int command) override {
    std::lock_guard lock(mutex_);
    posted.push_back(command);
    return command != kCommandCurrentInputAdjustment;
  }
  void RequestClose() override {
    std::lock_guard lock(mutex_);
    ++closeRequests;
    changed_.notify_all();
  }
  void UnlockWindow() override {
    std::lock_guard lock(mutex_);
    ++unlocks;
    changed_.notify_all();
  }
  bool WaitForClose() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 20s, [this] { return closeRequests > 0; });
  }
  int closes() {
    std::lock_guard lock(mutex_);
    return closeRequests;
  }

  ConnectionChoice choice = ConnectionChoice::Exit;
  int dialogs = 0;
  std::vector<int> posted;
  int unlocks = 0;
  int closeRequests = 0;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.createKey(SettingsKey::Port);
    // No real serial port is touched: the stored port is one that does not exist.
    const std::string nowhere = path("no-such-tty").string();
    ASSERT_TRUE(store_.write(SettingsKey::Port,
                             {{std::string(kValuePortName), nowhere},
                              {std::string(kValueComPortMap), "COM1=" + nowhere + ";COM5=" + nowhere}},
                             true));
  }

  std::filesystem::path path(const std::string& name) const { return scratch_.path() / name; }

  ApplicationOptions Options(std::vector<std::string> args) {
    ApplicationOptions o;
    o.arguments = std::move(args);
    o.workingDirectory = scratch_.path();
    o.descriptorFile = std::filesystem::path(KVTR_BIN_DIR) / "kvtr.tree.dat";
    o.settings = &store_;
    o.ui = &ui_;
    o.shell = &shell_;
    o.state = &state_;
    o.closingGrace = Clock::Duration::zero();
    o.jobWatcherLimit = 100ms;
    o.portChoices = "COM1";
    return o;
  }

  testing_support::ScratchFolder scratch_;
  MemorySettingsStore store_;
  testing_support::RecordingUserInterface ui_;
  RecordingShell shell_;
  LinkState state_;
};

TEST_F(ApplicationTest, WriteJobWithoutItsFileEndsAt200) {
  std::ofstream(path("empty.kvtr")).flush();
  for (const std::vector<std::string>& args : {std::vector<std::string>{"/write", "missing.kvtr"},
                                               std::vector<std::string>{"/write", "empty.kvtr"},
                                               std::vector<std::string>{"/write"}}) {
    LinkState state;
    ApplicationOptions o = Options(args);
    o.state = &state;
    Application app(std::move(o));
    EXPECT_EQ(app.Start(), Application::StartResult::Failed);
    EXPECT_EQ(app.document(), nullptr);
    EXPECT_EQ(app.ExitCode(), 200);
  }
  EXPECT_TRUE(shell_.posted.empty());
  EXPECT_EQ(store_.readText(SettingsKey::Devices, kValueDevices), std::nullopt);
}

TEST_F(ApplicationTest, TestOptionRegistersAndEndsBeforeTheDescriptor) {
  int connects = 0;
  ApplicationOptions o = Options({"-TEST"});
  o.connect = [&](ExchangeEngine&) { return ++connects, true; };
  Application app(std::move(o));
  EXPECT_EQ(app.Start(), Application::StartResult::Exit);
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(store_.readText(SettingsKey::Devices, kValueDevices), std::string(kDevicesValueText));
  ASSERT_NE(app.document(), nullptr);
  EXPECT_EQ(app.document()->tree(), nullptr);
  EXPECT_EQ(app.ExitCode(), 0);
}

TEST_F(ApplicationTest, PortSettingsAppliedBeforeTheConnectionAndStoredAfterTheRun) {
  std::string baudAtConnect;
  {
    ApplicationOptions o = Options({"/port:5/bps:19200/prty:odd/addr:17/close"});
    o.connect = [&](ExchangeEngine& engine) {
      baudAtConnect = engine.programPortNode().GetValueByName("bPS");
      return false;
    };
    Application app(std::move(o));
    EXPECT_EQ(app.Start(), Application::StartResult::Run);
    // Batch mode: no connection dialog; no job, so the window is unlocked and closed at once.
    EXPECT_TRUE(shell_.WaitForClose());
    EXPECT_TRUE(app.jobFinished().wait(20s));
    EXPECT_EQ(shell_.dialogs, 0);
    EXPECT_TRUE(shell_.posted.empty());
    EXPECT_EQ(shell_.unlocks, 1);
    EXPECT_FALSE(app.batchMode());
    app.MainFrameDestroyed();
  }
  EXPECT_EQ(baudAtConnect, "19200");
  const StoredPortSettings stored = loadPortSettings(store_);
  EXPECT_EQ(stored.port(), "COM5");
  EXPECT_EQ(stored.baudRate, 19200u);
  EXPECT_EQ(stored.parityScheme, 4u);
  EXPECT_EQ(stored.address, 17u);
}

TEST_F(ApplicationTest, WithoutCloseTheWindowStaysAfterTheJob) {
  ApplicationOptions o = Options({"/silent/bps:2400"});
  Application app(std::move(o));
  EXPECT_EQ(app.Start(), Application::StartResult::Run);
  EXPECT_TRUE(app.jobFinished().wait(20s));
  EXPECT_EQ(shell_.unlocks, 1);
  EXPECT_EQ(shell_.closes(), 0);
  app.MainFrameDestroyed();
  EXPECT_EQ(app.ExitCode(), 0);
}

TEST_F(ApplicationTest, OutsideBatchModeAFailedConnectionShowsTheDialog) {
  for (const auto choice : {ApplicationShell::ConnectionChoice::Exit, ApplicationShell::ConnectionChoice::Offline}) {
    RecordingShell shell;
    shell.choice = choice;
    ApplicationOptions o = Options({});
    o.shell = &shell;
    o.connect = [](ExchangeEngine&) { return false; };
    Application app(std::move(o));
    const auto started = app.Start();
    EXPECT_EQ(shell.dialogs, 1);
    if (choice == ApplicationShell::ConnectionChoice::Exit) {
      EXPECT_EQ(started, Application::StartResult::Exit);
    } else {
      EXPECT_EQ(started, Application::StartResult::Run);
      EXPECT_EQ(app.options().modeFlags, mode_flag::kAutoReadOff);
      EXPECT_FALSE(app.document()->engine().automaticReading());
      ASSERT_NE(app.document()->root(), nullptr);
    }
    app.MainFrameDestroyed();
  }
}

TEST_F(ApplicationTest, ReadJobSavesIntoTheNamedFileAndWriteWins) {
  std::ofstream(path("elog.txt")) << "old lines\n";
  {
    Application app(Options({"/silent/read/close", "-elog:elog.txt", "Read Result.KVTR"}));
    EXPECT_EQ(app.Start(), Application::StartResult::Run);
    EXPECT_EQ(std::filesystem::file_size(path("elog.txt")), 0u);
    ASSERT_EQ(shell_.posted, std::vector<int>{kCommandReadAll});
    EXPECT_TRUE(app.RunCommand(kCommandReadAll));
    EXPECT_TRUE(shell_.WaitForClose());
    app.MainFrameDestroyed();
    // Without communication nothing could be read: the new file holds what there was, and the job
    // does not end as a success.
    EXPECT_EQ(app.ExitCode(), 1);
    ASSERT_EQ(app.warnings().size(), 1u);
    EXPECT_NE(app.warnings()[0].find("сохранено то, что удалось прочитать"), std::string::npos) << app.warnings()[0];
    EXPECT_FALSE(app.document()->modified());
    EXPECT_EQ(app.document()->filePath(), path("Read Result.KVTR"));
  }
  ASSERT_TRUE(std::filesystem::exists(path("Read Result.KVTR")));
  const auto size = std::filesystem::file_size(path("Read Result.KVTR"));
  EXPECT_GT(size, 0u);

  // Both jobs: the write runs on the file as it is, and nothing replaces it afterwards.
  RecordingShell shell;
  ApplicationOptions o = Options({"/silent/read/write/close", "Read Result.KVTR"});
  o.shell = &shell;
  Application app(std::move(o));
  EXPECT_EQ(app.Start(), Application::StartResult::Run);
  ASSERT_EQ(shell.posted, std::vector<int>{kCommandWriteAll});
  ASSERT_NE(app.document()->root(), nullptr);
  EXPECT_EQ(app.document()->filePath(), path("Read Result.KVTR"));
  EXPECT_TRUE(app.RunCommand(kCommandWriteAll));
  EXPECT_TRUE(shell.WaitForClose());
  app.MainFrameDestroyed();
  EXPECT_EQ(std::filesystem::file_size(path("Read Result.KVTR")), size);
}

// The desktop program's read job: a read that cannot succeed (no communication) keeps the file
// that was there, and a file it could not save to ends start-up before the connection check.
TEST_F(ApplicationTest, AFailedReadJobKeepsTheFileThereAndAnUnsavableOneIsRefusedAtOnce) {
  std::ofstream(path("good.kvtr"), std::ios::binary) << "the operator's configuration";
  {
    Application app(Options({"/silent/read/close", "good.kvtr"}));
    EXPECT_EQ(app.Start(), Application::StartResult::Run);
    EXPECT_TRUE(app.RunCommand(kCommandReadAll));
    EXPECT_TRUE(shell_.WaitForClose());
    app.MainFrameDestroyed();
    EXPECT_EQ(app.ExitCode(), 1);
    ASSERT_EQ(app.warnings().size(), 1u);
    EXPECT_EQ(app.warnings()[0], "Чтение параметров прибора завершилось с ошибками: файл '" + path("good.kvtr").string() +
                                     "' оставлен без изменений, прочитанное не сохранено.");
  }
  std::ifstream in(path("good.kvtr"), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the operator's configuration");

  int connects = 0;
  ApplicationOptions o = Options({"/read/close", "missing/out.kvtr"});
  o.connect = [&](ExchangeEngine&) { return ++connects, true; };
  Application app(std::move(o));
  EXPECT_EQ(app.Start(), Application::StartResult::Failed);
  EXPECT_EQ(connects, 0) << "nothing goes out on the line";
  EXPECT_EQ(app.ExitCode(), 1);
  ASSERT_EQ(app.warnings().size(), 1u);
  EXPECT_NE(app.warnings()[0].find("папки '" + path("missing").string() + "' нет"), std::string::npos)
      << app.warnings()[0];
}

TEST_F(ApplicationTest, AJobThatCannotRunEndsAndFails) {
  // No descriptor: no tree, so the read cannot start; the job must still end, or a batch run
  // would wait for ever.
  ApplicationOptions o = Options({"/silent/read/close", "out.kvtr"});
  o.descriptorFile = path("no-descriptor.dat");
  Application app(std::move(o));
  EXPECT_EQ(app.Start(), Application::StartResult::Run);
  EXPECT_FALSE(app.RunCommand(kCommandReadAll));
  EXPECT_TRUE(shell_.WaitForClose());
  app.MainFrameDestroyed();
  EXPECT_EQ(app.ExitCode(), 1);
  EXPECT_FALSE(std::filesystem::exists(path("out.kvtr")));
  ASSERT_FALSE(ui_.messages.empty());
  EXPECT_EQ(ui_.messages.back().text, "Дерево не определено");
}

TEST_F(ApplicationTest, CalibrateHasNoProcedureAndCloses) {
  Application app(Options({"/silent/calibrate/read", "x.kvtr"}));
  EXPECT_EQ(app.Start(), Application::StartResult::Run);
  EXPECT_EQ(shell_.posted, std::vector<int>{kCommandCurrentInputAdjustment});
  EXPECT_TRUE(shell_.WaitForClose());
  app.MainFrameDestroyed();
  EXPECT_EQ(app.ExitCode(), 1);
  EXPECT_FALSE(std::filesystem::exists(path("x.kvtr")));
}

TEST_F(ApplicationTest, UnreadableConfigurationFailsStartUp) {
  std::ofstream(path("junk.kvtr")) << "not a configuration";
  Application app(Options({"/silent/write", "junk.kvtr"}));
  EXPECT_EQ(app.Start(), Application::StartResult::Failed);
  EXPECT_TRUE(shell_.posted.empty());
  EXPECT_EQ(app.ExitCode(), 1);
}

TEST_F(ApplicationTest, ExitEventEndsTheRunWith205) {
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("XDG_RUNTIME_DIR", scratch_.path().c_str(), 1);
  {
    Application app(Options({"/silent/exitevent:Stop-KVTR"}));
    EXPECT_EQ(app.Start(), Application::StartResult::Run);
    EXPECT_TRUE(app.jobFinished().wait(20s));
    EXPECT_EQ(shell_.closes(), 0);
    std::string error;
    ASSERT_TRUE(SetNamedEvent("Stop-KVTR", &error)) << error;
    EXPECT_TRUE(shell_.WaitForClose());
    app.MainFrameDestroyed();
    EXPECT_EQ(app.ExitCode(), 205);
    EXPECT_TRUE(app.document()->engine().abortEvent().isSet());
    // The event was closed: nobody waits for it any more.
    EXPECT_FALSE(SetNamedEvent("Stop-KVTR"));
  }
  if (old != nullptr) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else ::unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(ApplicationTest, QuittingAbortsWithoutAFailure) {
  Application app(Options({"/silent"}));
  EXPECT_EQ(app.Start(), Application::StartResult::Run);
  app.MainFrameDestroyed();
  EXPECT_TRUE(app.document()->engine().abortEvent().isSet());
  EXPECT_EQ(app.ExitCode(), 0);
}

}  // namespace
}  // namespace kvtr
