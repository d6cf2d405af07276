#include "app/startup_steps.h"

#include <gtest/gtest.h>

#include <fstream>

#include "app/settings_store.h"
#include "common/user_interface.h"
#include "model/net_rs485.h"
#include "unit/model/scratch_folder.h"

namespace kvtr {
namespace {

// Answers every question as told and remembers it.
class AnsweringUi : public UserInterface {
 public:
  explicit AnsweringUi(bool answer) : answer_(answer) {}
  void showMessage(const std::string&, const std::string&, MessageIcon) override {}
  bool askYesNo(const std::string& text, const std::string& caption) override {
    questions.push_back(caption + ": " + text);
    return answer_;
  }
  std::vector<std::string> questions;

 private:
  bool answer_;
};

TEST(MainConfigurator, QuestionText) {
  EXPECT_EQ(MainConfiguratorQuestion("/opt/b/kvtr", "/opt/a/kvtr"),
            "Вероятно, на вашем компьютере установлено несколько конфигураторов этого прибора,\n"
            "что не рекомендуется, но допускается.\n\n"
            "Установить запущенный конфигуратор (\"/opt/b/kvtr\")\n"
            "как основной или оставить ссылку на конфигуратор прибора КВТР как она сейчас есть\n"
            "(\"/opt/a/kvtr\")?");
}

class MainConfiguratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    self_ = scratch_.path() / "self";
    other_ = scratch_.path() / "other";
    std::ofstream(self_) << "x";
    std::ofstream(other_) << "y";
  }
  void Register(const std::string& value) {
    ASSERT_TRUE(store_.write(SettingsKey::Devices, {{std::string(kValueApplication), value}}, true));
  }
  std::optional<std::string> Registered() const { return store_.readText(SettingsKey::Devices, kValueApplication); }

  testing_support::ScratchFolder scratch_;
  std::filesystem::path self_;
  std::filesystem::path other_;
  MemorySettingsStore store_;
};

TEST_F(MainConfiguratorTest, MissingValueStaysMissing) {
  AnsweringUi ui(true);
  EXPECT_EQ(CheckMainConfigurator(store_, self_, ui), MainConfiguratorCheck::NotRegistered);
  EXPECT_EQ(Registered(), std::nullopt);
  EXPECT_TRUE(ui.questions.empty());
}

TEST_F(MainConfiguratorTest, ThisProgramUnderAnotherSpellingIsNotAsked) {
  AnsweringUi ui(true);
  Register("\"" + (scratch_.path() / "." / "self").string() + "\"");
  EXPECT_EQ(CheckMainConfigurator(store_, self_, ui), MainConfiguratorCheck::ThisProgram);
  EXPECT_TRUE(ui.questions.empty());
}

TEST_F(MainConfiguratorTest, AFileThatIsGoneIsNotAsked) {
  AnsweringUi ui(true);
  Register("\"" + (scratch_.path() / "gone").string() + "\"");
  EXPECT_EQ(CheckMainConfigurator(store_, self_, ui), MainConfiguratorCheck::Missing);
  EXPECT_TRUE(ui.questions.empty());
}

TEST_F(MainConfiguratorTest, AnotherConfiguratorKeptOrReplaced) {
  const std::string quotedOther = "\"" + other_.string() + "\"";
  {
    AnsweringUi no(false);
    Register(quotedOther);
    EXPECT_EQ(CheckMainConfigurator(store_, self_, no), MainConfiguratorCheck::Kept);
    ASSERT_EQ(no.questions.size(), 1u);
    EXPECT_EQ(no.questions[0], "Конфигуратор КВТР: " + MainConfiguratorQuestion(self_.string(), other_.string()));
    EXPECT_EQ(Registered(), quotedOther);
  }
  {
    AnsweringUi yes(true);
    EXPECT_EQ(CheckMainConfigurator(store_, self_, yes), MainConfiguratorCheck::Replaced);
    EXPECT_EQ(Registered(), "\"" + self_.string() + "\"");
  }
}

TEST(CommandLinePortSettings, WrittenInOrderWithTheirTexts) {
  NetRS485prg program;
  program.portChoices = "COM1:COM2";
  program.RebuildParameters();
  NetRS485 module;
  module.RebuildParameters();

  StartupOptions o;
  o.address = "17";
  o.addressLength = 11;
  o.baudRate = 19200;
  o.dataBits = 7;
  o.stopBits = "2";
  o.parity = kStartupParityOdd;
  o.port = 3;
  o.flags = startup_flag::kPortSettings | startup_flag::kApply;
  EXPECT_EQ(ApplyCommandLinePortSettings(o, program, &module), 7);
  const std::pair<std::string_view, std::string_view> expected[] = {
      {"Addr", "17"}, {"A.Len", "11"}, {"bPS", "19200"}, {"LEn", "7"}, {"Sbit", "2"}, {"PrtY", "Нечетность"}};
  for (const auto& [name, text] : expected) {
    EXPECT_EQ(program.GetValueByName(name), text) << name;
    EXPECT_EQ(module.GetValueByName(name), text) << name;
  }
  EXPECT_EQ(program.GetValueByName("Port"), "COM3");
}

TEST(CommandLinePortSettings, NotGivenIsSkippedAndTheModuleNeedsAply) {
  NetRS485prg program;
  program.RebuildParameters();
  NetRS485 module;
  module.RebuildParameters();
  const std::string moduleBaud = module.GetValueByName("bPS");
  const std::string programAddress = program.GetValueByName("Addr");

  StartupOptions o;
  o.baudRate = 2400;
  o.parity = kStartupParityEven;
  o.portPath = "/dev/ttyUSB1";
  o.port = 4;
  EXPECT_EQ(ApplyCommandLinePortSettings(o, program, &module), 3);
  EXPECT_EQ(program.GetValueByName("bPS"), "2400");
  EXPECT_EQ(program.GetValueByName("PrtY"), "Четность");
  EXPECT_EQ(program.GetValueByName("Port"), "/dev/ttyUSB1");
  EXPECT_EQ(program.GetValueByName("Addr"), programAddress);
  EXPECT_EQ(module.GetValueByName("bPS"), moduleBaud);  // no "aply"

  EXPECT_EQ(ApplyCommandLinePortSettings(StartupOptions{}, program, &module), 0);
  o.flags = startup_flag::kApply;
  EXPECT_EQ(ApplyCommandLinePortSettings(o, program, nullptr), 3);
  o.parity = kStartupParityNone;
  (void)ApplyCommandLinePortSettings(o, program, &module);
  EXPECT_EQ(module.GetValueByName("PrtY"), "Отсутствует");
  EXPECT_EQ(module.GetValueByName("bPS"), "2400");
}

TEST(StartupJob, PriorityAndFileAction) {
  using F = FileAction;
  struct Row {
    std::uint32_t flags;
    bool fileNamed;
    bool hasData;
    int job;
    FileAction action;
  };
  const std::uint32_t r = startup_flag::kReadJob;
  const std::uint32_t w = startup_flag::kWriteJob;
  const std::uint32_t c = startup_flag::kCalibrateJob;
  const Row rows[] = {
      {0, false, false, 0, F::NewDocument},
      {0, true, true, 0, F::OpenFile},
      {0, true, false, 0, F::NewDocument},  // the new configuration takes the name
      {r, true, true, kCommandReadAll, F::NewDocument},  // the file is where the result goes
      {r, true, false, kCommandReadAll, F::NewDocument},
      {w, true, true, kCommandWriteAll, F::OpenFile},
      {w, true, false, kCommandWriteAll, F::WriteJobWithoutFile},
      {w, false, false, kCommandWriteAll, F::WriteJobWithoutFile},
      // Both jobs: the write runs, and its file is opened, not replaced by an empty read result.
      {r | w, true, true, kCommandWriteAll, F::OpenFile},
      {r | c, true, true, kCommandCurrentInputAdjustment, F::OpenFile},
      {w | c, true, true, kCommandWriteAll, F::OpenFile},
  };
  for (const Row& row : rows) {
    StartupOptions o;
    o.flags = row.flags | startup_flag::kBatch;
    EXPECT_EQ(JobCommandOf(o), row.job) << row.flags;
    EXPECT_EQ(FileActionOf(o, row.fileNamed ? "/tmp/a.kvtr" : "", row.hasData), row.action) << row.flags;
  }
}

TEST(WindowPlacement, FromTheCommandLine) {
  using K = WindowPlacement::Kind;
  struct Row {
    std::vector<std::string> args;
    WindowPlacement placement;
  };
  const Row rows[] = {
      {{}, {K::Maximised}},
      {{"/x:10/y:10/w:800/h:600"}, {K::Placed, 10, 10, 800, 600, true}},
      {{"/w:0/h:0/read/close"}, {K::Minimised}},
      {{"/x:5/y:5/w:0/h:0"}, {K::Minimised}},
      {{"/x:10/w:800/h:600"}, {K::Maximised}},
      {{"/x:10/y:10/w:800"}, {K::Maximised}},
      {{"/x:-1920/y:0/w:0/h:600"}, {K::Placed, -1920, 0, 0, 600, true}},
  };
  for (const Row& row : rows) {
    const StartupOptions o = parseCommandLine(row.args, "/", CommandLineSyntax::Posix).options;
    EXPECT_EQ(WindowPlacementOf(o), row.placement) << (row.args.empty() ? "" : row.args[0]);
  }
}

}  // namespace
}  // namespace kvtr
