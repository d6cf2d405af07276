// kvtr batch and signal-exit where no module is needed: usage, warnings, the registry steps of
// "test" and the exit codes that come before the line. The jobs themselves run against the
// simulated module in the integration tests.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "unit/model/scratch_folder.h"
#include "unit/tools/cli/run_tool.h"

namespace kvtr {
namespace {

namespace fs = std::filesystem;
using testing::runTool;

class BatchCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", (scratch_.path() / "config").c_str(), 1);
    fs::create_directories(scratch_.path() / "run");
    fs::permissions(scratch_.path() / "run", fs::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", (scratch_.path() / "run").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_RUNTIME_DIR");
  }
  std::string Settings() const {
    std::ifstream file(scratch_.path() / "config/kvtr/settings");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  std::string Path(const std::string& name) const { return (scratch_.path() / name).string(); }

  testing_support::ScratchFolder scratch_;
};

TEST_F(BatchCommandsTest, TestOptionDoesTheRegistryStepsOnly) {
  const auto run = runTool("kvtr", {"batch", "/test/silent/port:" + Path("no-tty")});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string settings = Settings();
  EXPECT_NE(settings.find("devices = \"КВТР\""), std::string::npos) << settings;
  EXPECT_NE(settings.find(Path("no-tty")), std::string::npos) << settings;
}

TEST_F(BatchCommandsTest, UnknownOptionsAreReportedAndTheRunGoesOn) {
  const auto run = runTool("kvtr", {"batch", "-frob/silent", "/prty:mark"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("kvtr batch: неизвестный параметр «frob»"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("prty:mark"), std::string::npos) << run.err;
}

TEST_F(BatchCommandsTest, WriteJobWithoutItsFile) {
  EXPECT_EQ(runTool("kvtr", {"batch", "/write", Path("missing.kvtr")}).exitCode, 200);
  EXPECT_EQ(runTool("kvtr", {"batch", "/write"}).exitCode, 200);
  // Nothing of the run happened: not even the registry steps.
  EXPECT_EQ(Settings(), "");
}

TEST_F(BatchCommandsTest, ErrorLogIsCreatedEmptyAndKeepsItsCase) {
  std::ofstream(Path("Errors.LOG")) << "from an earlier run\n";
  const auto run = runTool("kvtr", {"batch", "/silent", "-elog:" + Path("Errors.LOG")});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(fs::file_size(Path("Errors.LOG")), 0u);
  EXPECT_FALSE(fs::exists(Path("errors.log")));
}

TEST_F(BatchCommandsTest, HelpAndUsage) {
  const auto help = runTool("kvtr", {"batch", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Использование: kvtr batch"), std::string::npos);
  EXPECT_EQ(runTool("kvtr", {"signal-exit"}).exitCode, 2);
  EXPECT_EQ(runTool("kvtr", {"signal-exit", "a", "b"}).exitCode, 2);
  const auto nobody = runTool("kvtr", {"signal-exit", "nobody-waits"});
  EXPECT_EQ(nobody.exitCode, 1);
  EXPECT_NE(nobody.err.find("не ждет ни одна программа"), std::string::npos) << nobody.err;
}

}  // namespace
}  // namespace kvtr
