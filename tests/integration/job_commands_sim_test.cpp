// The module jobs of kvtr against the simulated module over a pseudo-terminal: what reaches the
// module, what the files hold afterwards, what the tool prints and how it exits.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/format.h"
#include "common/strings.h"
#include "common/user_interface.h"
#include "exchange/group_operations.h"
#include "integration/module_state.h"
#include "integration/sim_fixture.h"
#include "model/parameter_tree.h"
#include "model/text_encoding.h"
#include "protocol/frame_codec.h"
#include "storage/configuration_file.h"
#include "unit/tools/cli/run_tool.h"

extern char** environ;

namespace kvtr::test {
namespace {

using kvtr::testing::ToolRun;

class JobsOverSim : public SimFixture {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", ScratchPath("config").c_str(), 1);
    log = ScratchPath("frames.log");
    state = ScratchPath("module.state");
    file = ScratchPath("module.kvtr");
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    SimFixture::TearDown();
  }

  SimProcess& Start(std::vector<std::string> extra = {}) {
    // Fixed inputs: the counters stand still, so the module holds still between two looks.
    std::vector<std::string> options = {"--log", log, "--state", state, "--inputs", "0"};
    options.insert(options.end(), extra.begin(), extra.end());
    sim = &StartSim(options);
    return *sim;
  }

  std::vector<std::string> WithPort(std::vector<std::string> args) {
    args.push_back("--port");
    args.push_back(sim->port());
    return args;
  }
  ToolRun Kvtr(std::vector<std::string> args) { return kvtr::testing::runTool("kvtr", WithPort(std::move(args))); }

  ModuleState Module() {
    EXPECT_EQ(sim->Control("save"), "ok");
    return ReadModuleState(state);
  }

  std::unique_ptr<ParameterTree> Open(const std::string& path) {
    SilentUserInterface ui;
    OpenOptions options;
    options.loadDescriptor = DescriptorFromFile(std::string(KVTR_BIN_DIR) + "/kvtr.tree.dat");
    OpenResult opened = OpenConfigurationFile(path, ui, options);
    EXPECT_TRUE(opened.ok()) << opened.detail;
    return std::move(opened.tree);
  }
  void Save(const ParameterTree& tree, const std::string& path) {
    std::string error;
    ASSERT_TRUE(SaveConfigurationFile(tree, path, &error)) << error;
  }

  static std::vector<Parameter*> Parameters(ParameterTree& tree) {
    std::vector<Parameter*> all;
    ParameterTree::ForEachParameter(*tree.root(), [&](Parameter& p) { all.push_back(&p); });
    return all;
  }
  static Parameter* Find(ParameterTree& tree, std::string_view name, int index) {
    for (Parameter* p : Parameters(tree)) {
      if (p->name == name && p->index == index) return p;
    }
    ADD_FAILURE() << "no " << name << ":" << index;
    return nullptr;
  }

  // Every value and attribute of the tree equals the module's; returns how many were compared.
  int ExpectTreeEqualsModule(ParameterTree& tree, const ModuleState& module) {
    int compared = 0;
    for (Parameter* p : Parameters(tree)) {
      // The network name is kept character by character; get and set test it.
      if (p->name.find('*') != std::string::npos) continue;
      const ModuleSlot* slot = FindSlot(module, *p);
      if (slot == nullptr) continue;  // service commands: no memory of their own
      ++compared;
      EXPECT_EQ(p->value, ModuleValue(module, *p)) << p->name << ":" << p->index;
      if (p->attributeMode != 0) {
        EXPECT_EQ(p->editable, slot->attributes & 1u) << p->name << ":" << p->index;
        EXPECT_EQ(p->ownerFirm, (slot->attributes & 2u) == 0 ? 1 : 0) << p->name << ":" << p->index;
      }
    }
    return compared;
  }

  static std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  // Starts kvtr with `args` while the test goes on, its error stream into the file `err`.
  static pid_t SpawnKvtr(std::vector<std::string> args, const std::string& err) {
    const std::string program = std::string(KVTR_BIN_DIR) + "/kvtr";
    args.insert(args.begin(), "kvtr");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
  }

  SimProcess* sim = nullptr;
  std::string log;
  std::string state;
  std::string file;
};

TEST_F(JobsOverSim, ReadGivesAFileWithEveryValueTheModuleHolds) {
  ASSERT_TRUE(Start().running());
  // Values other than the factory ones, so that the file cannot hold them by chance.
  ASSERT_EQ(Kvtr({"set", "I.Flt:1=25", "C.Mod:3=Вычитание", "P.Lo:2=12.5", "t.Lnk=02:30"}).exitCode, 0);
  const ToolRun run = Kvtr({"read", file});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "") << "no terminal, no bar; nothing failed";
  EXPECT_EQ(run.out, "");

  auto tree = Open(file);
  ASSERT_NE(tree, nullptr);
  EXPECT_GT(ExpectTreeEqualsModule(*tree, Module()), 140);
  EXPECT_EQ(Find(*tree, "I.Flt", 1)->value, "25");
  EXPECT_EQ(Find(*tree, "C.Mod", 3)->value, "Вычитание");
  EXPECT_EQ(Find(*tree, "P.Lo", 2)->value, "12.500");
  EXPECT_EQ(Find(*tree, "t.Lnk", 0)->value, "02:30");
  EXPECT_EQ(Find(*tree, "dev", 0)->value, "KVTR");
}

TEST_F(JobsOverSim, WriteMakesTheModuleEqualTheFile) {
  ASSERT_TRUE(Start().running());
  ASSERT_EQ(Kvtr({"read", file}).exitCode, 0);
  auto tree = Open(file);
  ASSERT_NE(tree, nullptr);
  for (int i = 0; i < 12; ++i) ASSERT_TRUE(Find(*tree, "I.Flt", i)->SetValueFromText(std::to_string(100 + i)));
  ASSERT_TRUE(Find(*tree, "P.Per", 5)->SetValueFromText("2500"));
  ASSERT_TRUE(Find(*tree, "C.Edg", 7)->SetValueFromText("Оба фронта"));
  Save(*tree, file);

  const ToolRun run = Kvtr({"write", file});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  auto written = Open(file);
  const ModuleState module = Module();
  EXPECT_GT(ExpectTreeEqualsModule(*written, module), 140);
  EXPECT_EQ(ModuleValue(module, *Find(*written, "I.Flt", 11)), "111");
  EXPECT_EQ(ModuleValue(module, *Find(*written, "C.Edg", 7)), "Оба фронта");
}

TEST_F(JobsOverSim, WriteChangedSendsOnlyTheChangedParameters) {
  ASSERT_TRUE(Start().running());
  ASSERT_EQ(Kvtr({"read", file}).exitCode, 0);
  auto tree = Open(file);
  ASSERT_NE(tree, nullptr);
  ASSERT_TRUE(Find(*tree, "I.Flt", 4)->SetValueFromText("77"));
  ASSERT_TRUE(Find(*tree, "C.Lim", 2)->SetValueFromText("1000"));
  ASSERT_TRUE(Find(*tree, "O.Saf", 6)->SetValueFromText("Выключить"));
  Save(*tree, file);
  const std::size_t before = HeardFrames(log).size();

  const ToolRun run = Kvtr({"write-changed", file});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::vector<HeardFrame> all = HeardFrames(log);
  std::vector<std::uint16_t> values;
  for (std::size_t i = before; i < all.size(); ++i) {
    if (all[i].hash == kAttributesHash) continue;  // the attributes go before their value
    EXPECT_FALSE(all[i].read) << "write-changed reads nothing";
    values.push_back(all[i].hash);
  }
  // In the order of the walk: input 3's counter settings, input 5, output 7.
  EXPECT_EQ(values, (std::vector<std::uint16_t>{hashName("C.Lim"), hashName("I.Flt"), hashName("O.Saf")}));
  const ModuleState module = Module();
  auto after = Open(file);
  EXPECT_EQ(ModuleValue(module, *Find(*after, "C.Lim", 2)), "1000");
  EXPECT_EQ(Find(*after, "I.Flt", 4)->valueChanged, 0) << "the file keeps what was written as written";

  // Nothing is changed any more: a second run sends nothing.
  const std::size_t second = HeardFrames(log).size();
  EXPECT_EQ(Kvtr({"write-changed", file}).exitCode, 0);
  EXPECT_EQ(HeardFrames(log).size(), second);
}

// Values changed outside the program meet the rules of typed ones before a write: the module
// never gets one that fails them, and the operator learns which and why from show, the job's
// output and exit code, the progress log, the error log and the parameter's comment.
TEST_F(JobsOverSim, ValuesThatFailTheRulesAreNotWritten) {
  ASSERT_TRUE(Start().running());
  ASSERT_EQ(Kvtr({"read", file}).exitCode, 0);
  const ModuleState before = Module();
  const struct {
    const char* name;
    int index;
    const char* value;
    const char* refusal;  // none: the value is written
  } rows[] = {
      {"C.Mod", 1, "Foo",
       "C.Mod:1 - Значение 'Foo' не записано: значение должно быть одним из: Выключен, Суммирование, Вычитание, "
       "Суммирование с автосбросом"},
      {"C.Pre", 2, "99999", "C.Pre:2 - Значение '99999' не записано: значение должно быть целым числом от 0 до 65535"},
      {"I.Flt", 3, "ZZ", "I.Flt:3 - Значение 'ZZ' не записано: значение должно быть целым числом от 0 до 250"},
      {"P.Hi", 0, "99,5", nullptr},
  };
  {
    auto tree = Open(file);
    for (const auto& r : rows) {
      Parameter* p = Find(*tree, r.name, r.index);
      p->value = r.value;
      p->valueChanged = 1;
    }
    Save(*tree, file);
  }
  const ToolRun shown = kvtr::testing::runTool("kvtr", {"show", file});
  EXPECT_NE(shown.out.find("I.Flt:3 = ZZ  [editable=1 ownerFirm=0]  changed=value  !! не будет записано: значение "
                           "должно быть целым числом от 0 до 250\n"),
            std::string::npos)
      << shown.out;

  for (const char* job : {"write", "write-changed"}) {
    SCOPED_TRACE(job);
    const std::string elog = ScratchPath(std::string(job) + ".log");
    const ToolRun run = Kvtr({job, file, "--verbose", "--elog", elog});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    std::ifstream in(elog, std::ios::binary);
    std::stringstream logged;
    logged << in.rdbuf();
    std::string expected;
    for (const auto& r : rows) {
      if (r.refusal == nullptr) continue;
      expected += std::string(r.refusal) + "\n";
      EXPECT_NE(run.err.find("kvtr " + std::string(job) + ": " + r.refusal + "\n"), std::string::npos) << run.err;
    }
    EXPECT_EQ(cp1251ToUtf8(logged.str()), expected);
    EXPECT_NE(run.err.find("  Запись: I.Flt:3 = ZZ [Значение 'ZZ' не записано: "), std::string::npos) << run.err;
  }
  const ModuleState after = Module();
  auto tree = Open(file);
  for (const auto& r : rows) {
    const Parameter& p = *Find(*tree, r.name, r.index);
    if (r.refusal == nullptr) {
      EXPECT_EQ(ModuleValue(after, p), "99.500") << "the comma is the decimal point";
      continue;
    }
    EXPECT_EQ(ModuleValue(after, p), ModuleValue(before, p)) << r.name << ":" << r.index;
    EXPECT_EQ(std::string(r.name) + ":" + std::to_string(r.index) + " - " + p.comment, r.refusal);
    EXPECT_EQ(p.valueChanged, 1) << "write-changed keeps what it did not write as changed";
  }
}

TEST_F(JobsOverSim, CompareWithTwelveDifferencesShowsTheFirstTen) {
  ASSERT_TRUE(Start().running());
  ASSERT_EQ(Kvtr({"read", file}).exitCode, 0);
  auto tree = Open(file);
  ASSERT_NE(tree, nullptr);
  const ModuleState module = Module();
  std::vector<Parameter*> changed;
  for (int i = 0; i < 12; ++i) {
    Parameter* p = Find(*tree, "I.Flt", i);
    ASSERT_TRUE(p->SetValueFromText(std::to_string(200 + i)));
    p->comment = "до сравнения";
    changed.push_back(p);
  }
  Save(*tree, file);

  const ToolRun run = Kvtr({"compare", "--update", file});
  EXPECT_EQ(run.exitCode, 3) << "differences found: " << run.err;
  std::string expected = "Обнаружено 12 отличий (показанны только первые 10):\n";
  for (int i = 0; i < 10; ++i) {
    const Parameter& p = *changed[static_cast<std::size_t>(i)];
    expected += strprintf("\n%d) Параметер '%s:%d (", i + 1, p.name.c_str(), p.index) + p.description +
                ") в конфигурации: значение=" + p.value + "," + (p.editable ? "Редактируемый" : "Не редактируемый") +
                ",принадлежит " + (p.ownerFirm ? "фирме" : "пользователю") + "; в приборе: значение=" +
                ModuleValue(module, p) + "," + (p.editable ? "Редактируемый" : "Не редактируемый") + ",принадлежит " +
                (p.ownerFirm ? "фирме" : "пользователю") + ".\n";
  }
  EXPECT_EQ(run.out, expected + "\n");

  auto updated = Open(file);
  for (int i = 0; i < 12; ++i) {
    const Parameter& p = *Find(*updated, "I.Flt", i);
    if (i < 10) {
      EXPECT_EQ(p.comment, "Знач-е в приборе: '" + ModuleValue(module, p) + "'," + (p.editable ? "Ред-ый," : "Не ред-ый,") +
                               (p.ownerFirm ? "фирм." : "польз.") + "; до сравнения")
          << i;
    } else {
      EXPECT_EQ(p.comment, "до сравнения") << "difference " << i + 1 << " keeps its comment";
    }
    EXPECT_EQ(p.value, std::to_string(200 + i)) << "the configuration keeps its value";
  }

  // The module itself was not touched, and an equal file shows no difference.
  ASSERT_EQ(Kvtr({"read", file}).exitCode, 0);
  const ToolRun same = Kvtr({"compare", file});
  EXPECT_EQ(same.exitCode, 0) << "no difference: " << same.err;
  EXPECT_EQ(same.out, "Отличий не обнаружено\n");
}

TEST_F(JobsOverSim, InitialiseSetsFactoryValuesAndTheCalibrationTableByParity) {
  ASSERT_TRUE(Start().running());
  ASSERT_EQ(Kvtr({"set", "clb.k:0=100", "clb.k:1=200", "clb.k:6=300", "P.Per:0=20"}).exitCode, 0);
  const ToolRun refused = Kvtr({"init"});
  EXPECT_EQ(refused.exitCode, 2) << "initialising asks for --yes";

  const ToolRun run = Kvtr({"init", "--yes", "--no-init"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const ModuleState module = Module();
  ParameterTree descriptorTree;
  SilentUserInterface ui;
  DescriptorFromFile(std::string(KVTR_BIN_DIR) + "/kvtr.tree.dat")(descriptorTree, ui);
  ASSERT_TRUE(descriptorTree.hasTree());
  int calibration = 0;
  for (Parameter* p : Parameters(descriptorTree)) {
    if (p->name == "clb.k") {
      ++calibration;
      EXPECT_EQ(ModuleValue(module, *p), p->index % 2 == 0 ? "0" : "4095") << p->index;
    } else if (!p->pendingText.empty() && p->exchangeable) {
      Parameter expected(p->name, p->type, "");
      ASSERT_TRUE(expected.SetValueFromText(replaceAll(p->pendingText, '_', ' '))) << p->name << " " << p->pendingText;
      EXPECT_EQ(ModuleValue(module, *p), expected.value) << p->name << ":" << p->index;
    }
  }
  EXPECT_EQ(calibration, 16);
  for (const HeardFrame& f : HeardFrames(log)) EXPECT_NE(f.hash, kInitHash) << "--no-init sends no INIT";

  EXPECT_EQ(Kvtr({"init", "--yes"}).exitCode, 0);
  const auto frames = HeardFrames(log);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back().hash, kInitHash) << "INIT follows the factory values";
}

TEST_F(JobsOverSim, FiveTimeOutsStopAReadWithTheProgramsMessage) {
  ASSERT_TRUE(Start({"--baud", "115200", "--drop-probability", "1"}).running());
  const ToolRun run = Kvtr({"read", file, "--baud", "115200"});
  EXPECT_EQ(run.exitCode, 202) << run.err;
  EXPECT_NE(run.err.find("Конфигуратор КВТР: " + ReadFailureLimitText(5, false)), std::string::npos) << run.err;
  EXPECT_EQ(HeardFrames(log).size(), 5u * 4u) << "five reads of four sends each, then nothing more";
}

TEST_F(JobsOverSim, FiveFailedWritesStopAWrite) {
  ASSERT_TRUE(Start({"--baud", "115200"}).running());
  ASSERT_EQ(Kvtr({"read", file, "--baud", "115200"}).exitCode, 0);
  ASSERT_EQ(sim->Control("fault drop probability 1"), "ok");
  const std::size_t before = HeardFrames(log).size();
  const ToolRun run = Kvtr({"write", file, "--baud", "115200"});
  EXPECT_EQ(run.exitCode, 202) << run.err;
  EXPECT_NE(run.err.find("Прошло 5 безуспешных попыток записи!\n"), std::string::npos) << run.err;
  EXPECT_EQ(HeardFrames(log).size() - before, 5u * 4u);
}

TEST_F(JobsOverSim, WriteWithoutItsFileEndsWith200) {
  ASSERT_TRUE(Start().running());
  const ToolRun missing = Kvtr({"write", ScratchPath("missing.kvtr")});
  EXPECT_EQ(missing.exitCode, 200);
  std::ofstream(ScratchPath("empty.kvtr")).close();
  EXPECT_EQ(Kvtr({"write", ScratchPath("empty.kvtr")}).exitCode, 200);
  EXPECT_TRUE(HeardFrames(log).empty()) << "nothing goes out";
}

TEST_F(JobsOverSim, AFileMadeByNewAndEditIsWrittenAndWhatHasNoDataIsPassedOver) {
  ASSERT_TRUE(Start().running());
  ASSERT_EQ(kvtr::testing::runTool("kvtr", {"new", file}).exitCode, 0);
  ASSERT_EQ(kvtr::testing::runTool("kvtr", {"edit", file, "I.Flt:2=33"}).exitCode, 0);
  const ToolRun run = Kvtr({"write", file});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("kvtr write: задание выполнено; пропущено параметров без данных: "), std::string::npos)
      << run.err;
  auto tree = Open(file);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(ModuleValue(Module(), *Find(*tree, "I.Flt", 2)), "33");
}

TEST_F(JobsOverSim, AJobThatFailsSaysSoOnItsLastLineAndNotInTheWindowsWords) {
  ASSERT_TRUE(Start().running());
  ASSERT_EQ(Kvtr({"read", file}).exitCode, 0);
  auto tree = Open(file);
  ASSERT_NE(tree, nullptr);
  ASSERT_TRUE(Find(*tree, "I.Flt", 4)->SetValueFromText("77"));
  ASSERT_TRUE(Find(*tree, "C.Lim", 2)->SetValueFromText("1000"));
  Save(*tree, file);
  // The first parameter's exchange is lost every time it is tried; the second goes through.
  ASSERT_EQ(sim->Control("fault drop first 4"), "ok");

  const ToolRun run = Kvtr({"write-changed", "--verbose", file});
  EXPECT_NE(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err.find("Окно будет закрыто"), std::string::npos) << run.err;
  EXPECT_TRUE(run.err.ends_with("\nkvtr write-changed: задание не выполнено: ошибки обмена у 1 из 2 параметров\n"))
      << run.err;
}

TEST_F(JobsOverSim, FailuresGoToTheErrorLog) {
  // The first answer is lost four times over: the first parameter's read gives up, then the
  // module answers again. A time-out followed by a frame start counts as line trouble (203).
  ASSERT_TRUE(Start({"--baud", "115200", "--drop-first", "4"}).running());
  const std::string elog = ScratchPath("errors.log");
  std::ofstream(elog) << "old run\n";
  const ToolRun run = Kvtr({"read", file, "--baud", "115200", "--elog", elog});
  EXPECT_EQ(run.exitCode, 203) << run.err;
  std::ifstream in(elog, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(cp1251ToUtf8(text.str()), "dev - Таймаут при передаче данных (нет связи)\n");
}

TEST_F(JobsOverSim, InterruptedReadEndsWith205) {
  // Ctrl+C, and the termination request a service manager or `kill` sends, end the job the same way.
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(::strsignal(signal));
    // A module of its own for each run.
    log = ScratchPath(strprintf("frames-%d.log", signal));
    state = ScratchPath(strprintf("module-%d.state", signal));
    ASSERT_TRUE(Start({"--delay-ms", "30"}).running());
    const std::string program = std::string(KVTR_BIN_DIR) + "/kvtr";
    std::vector<std::string> args = WithPort({"kvtr", "read", file});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    // Once the job is under way (its tenth frame has arrived), the signal.
    EXPECT_EQ(sim->Control("frames 10"), "ok");
    ASSERT_EQ(::kill(pid, signal), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the program was killed by the signal";
    EXPECT_EQ(WEXITSTATUS(status), 205);
    EXPECT_LT(HeardFrames(log).size(), 100u) << "the walk stopped";
  }
}

// A read that does not end whole never replaces the file that was there: at another speed, cut
// short by Ctrl+C, or with the module gone half-way, the good file stays byte for byte and the
// tool says so.
TEST_F(JobsOverSim, AFailedReadLeavesTheFileThatWasThere) {
  ASSERT_TRUE(Start().running());
  ASSERT_EQ(Kvtr({"read", file}).exitCode, 0);
  const std::string good = FileBytes(file);
  ASSERT_GT(good.size(), 1000u);

  enum class Trouble { None, Interrupt, ModuleGone };
  struct Row {
    const char* what;
    std::vector<std::string> sim;
    std::vector<std::string> read;
    Trouble trouble;
    int exitCode;  // 0: any failure
    const char* says;
  };
  const Row rows[] = {
      {"another speed", {}, {"--baud", "19200"}, Trouble::None, 202, "завершилось с ошибками"},
      {"Ctrl+C", {"--delay-ms", "30"}, {}, Trouble::Interrupt, 205, "прервано"},
      {"module gone", {"--delay-ms", "30"}, {}, Trouble::ModuleGone, 0, "завершилось с ошибками"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    log = ScratchPath(std::string(row.what) + ".log");
    state = ScratchPath(std::string(row.what) + ".state");
    ASSERT_TRUE(Start(row.sim).running());
    std::vector<std::string> args = {"read", file};
    args.insert(args.end(), row.read.begin(), row.read.end());
    const std::string err = ScratchPath(std::string(row.what) + ".err");
    const pid_t pid = SpawnKvtr(WithPort(args), err);
    ASSERT_GT(pid, 0);
    if (row.trouble != Trouble::None) {
      // Once the read is under way (its tenth frame has arrived).
      EXPECT_EQ(sim->Control("frames 10"), "ok");
      if (row.trouble == Trouble::Interrupt) {
        ASSERT_EQ(::kill(pid, SIGINT), 0);
      }
      if (row.trouble == Trouble::ModuleGone) sim->Stop();
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (row.exitCode != 0) {
      EXPECT_EQ(WEXITSTATUS(status), row.exitCode);
    }
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_EQ(FileBytes(file), good);
    EXPECT_NE(FileBytes(err).find(std::string("Чтение параметров прибора ") + row.says + ": файл '" + file +
                                  "' оставлен без изменений"),
              std::string::npos)
        << FileBytes(err);
  }
}

// The file of a read is checked before anything goes out on the line: a folder that is not there
// and a FIFO are refused at once, and a link is written through to its file.
TEST_F(JobsOverSim, TheFileOfAReadIsCheckedBeforeTheModuleIsRead) {
  ASSERT_TRUE(Start().running());
  const std::string fifo = ScratchPath("pipe.kvtr");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Row {
    std::string target;
    std::string says;
  };
  const Row rows[] = {
      {"/nonexistent/dir/x.kvtr", "kvtr read: Не удалось сохранить файл '/nonexistent/dir/x.kvtr': папки "
                                  "'/nonexistent/dir' нет\n"},
      {fifo, "kvtr read: Не удалось сохранить файл '" + fifo + "': это именованный канал, а не файл\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    const ToolRun run = Kvtr({"read", row.target});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, row.says);
  }
  EXPECT_EQ(sim->Control("frames"), "ok 0") << "nothing was sent";
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));

  std::filesystem::create_directory(ScratchPath("real"));
  std::filesystem::create_symlink("real/module.kvtr", ScratchPath("link.kvtr"));
  const ToolRun run = Kvtr({"read", ScratchPath("link.kvtr")});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(std::filesystem::is_symlink(ScratchPath("link.kvtr")));
  EXPECT_NE(Open(ScratchPath("real/module.kvtr")), nullptr);
}

// A file that cannot be read stops every job that reads one before it sends anything; bytes
// after the end of a good one are reported, and the jobs that would save the file back refuse.
TEST_F(JobsOverSim, DamagedFilesAreReportedBeforeAnythingIsSent) {
  ASSERT_TRUE(Start().running());
  ASSERT_EQ(Kvtr({"read", file}).exitCode, 0);
  std::string damaged = FileBytes(file);
  damaged[0x10] ^= 0x55;
  std::ofstream(ScratchPath("damaged.kvtr"), std::ios::binary) << damaged;
  const std::string tail = FileBytes(file) + "tail";
  std::ofstream(ScratchPath("tail.kvtr"), std::ios::binary) << tail;
  const std::size_t before = HeardFrames(log).size();

  struct Row {
    std::vector<std::string> args;
    const char* says;
  };
  const Row rows[] = {
      {{"write", ScratchPath("damaged.kvtr")}, "Данные в файле испорчены!"},
      {{"write-changed", ScratchPath("damaged.kvtr")}, "Данные в файле испорчены!"},
      {{"compare", ScratchPath("damaged.kvtr")}, "Данные в файле испорчены!"},
      {{"write-changed", ScratchPath("tail.kvtr")}, "после конца конфигурации в нём ещё 4 байт"},
      {{"compare", "--update", ScratchPath("tail.kvtr")}, "после конца конфигурации в нём ещё 4 байт"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[0] + " " + row.args.back());
    const ToolRun run = Kvtr(row.args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
  }
  EXPECT_EQ(HeardFrames(log).size(), before) << "nothing was sent";
  EXPECT_EQ(FileBytes(ScratchPath("tail.kvtr")), tail);
  EXPECT_EQ(FileBytes(ScratchPath("damaged.kvtr")), damaged);

  // The configuration before the tail is whole: writing it goes ahead, with the warning.
  const ToolRun write = Kvtr({"write", ScratchPath("tail.kvtr")});
  EXPECT_EQ(write.exitCode, 0) << write.err;
  EXPECT_NE(write.err.find("Предупреждение: После конца конфигурации в файле есть ещё 4 байт"), std::string::npos)
      << write.err;
}

TEST_F(JobsOverSim, IdentifyPollAndWatch) {
  ASSERT_TRUE(Start({"--dev", "K-V-T-R", "--ver", "2.1"}).running());
  ToolRun run = Kvtr({"identify"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "Прибор: K-V-T-R\nВерсия ПО: 2.1\n");

  ASSERT_EQ(Kvtr({"set", "I.Flt:3=42"}).exitCode, 0);
  run = Kvtr({"poll", "I.Flt:3", "--period", "100", "--count", "3"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  std::istringstream lines(run.out);
  int n = 0;
  for (std::string line; std::getline(lines, line); ++n) {
    EXPECT_EQ(line.substr(12), " I.Flt:3 = 42") << line;
  }
  EXPECT_EQ(n, 3);

  ASSERT_EQ(sim->Control("inputs 5"), "ok");
  ASSERT_EQ(Kvtr({"set", "r.oe:1=0.5"}).exitCode, 0);
  run = Kvtr({"watch", "--json", "--count", "6"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  std::istringstream json(run.out);
  std::string last;
  n = 0;
  for (std::string line; std::getline(json, line); ++n) last = line;
  EXPECT_EQ(n, 6);
  EXPECT_NE(last.find("\"inputs\":[1,0,1,0,0,0,0,0,0,0,0,0]"), std::string::npos) << last;
  EXPECT_NE(last.find("{\"index\":1,\"value\":\"0.500\",\"state\":\"pwm\"}"), std::string::npos) << last;
}

// ------------------------------------------------------------------ the line at fault

TEST_F(JobsOverSim, ALateAnswerNeverShiftsTheValuesOfTheNextIndexes) {
  ASSERT_TRUE(Start().running());
  std::vector<std::string> set = {"set"};
  for (int i = 0; i < 16; ++i) set.push_back(strprintf("clb.k:%d=%d", i, 100 + i));
  ASSERT_EQ(Kvtr(set).exitCode, 0);
  // The first answer of the read comes after the reply time-out, while the request is repeated.
  ASSERT_EQ(sim->Control("fault late first 1"), "ok");
  const ToolRun run = Kvtr({"read", file});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  auto tree = Open(file);
  ASSERT_NE(tree, nullptr);
  for (int i = 0; i < 16; ++i) {
    const Parameter* p = Find(*tree, "clb.k", i);
    EXPECT_EQ(p->value, std::to_string(100 + i)) << "clb.k:" << i;
    EXPECT_EQ(p->comment, "") << "clb.k:" << i;
  }
  EXPECT_GT(ExpectTreeEqualsModule(*tree, Module()), 140);
}

TEST_F(JobsOverSim, AReadUnderEveryFaultSavesOnlyWhatTheModuleGaveOrAnError) {
  ASSERT_TRUE(Start({"--baud", "115200", "--seed", "11", "--late-probability", "0.05", "--late-ms", "150",
                     "--lost-start-probability", "0.03", "--other-hash-probability", "0.03", "--drop-probability",
                     "0.03", "--garbage-probability", "0.02", "--bad-crc-probability", "0.02"})
                  .running());
  const ToolRun run = Kvtr({"read", file, "--baud", "115200"});
  EXPECT_NE(run.exitCode, 0) << "some parameters fail under these faults";
  ASSERT_EQ(sim->Control("faults off"), "ok");
  const ToolRun name = Kvtr({"get", "CHAr*", "--baud", "115200"});
  ASSERT_EQ(name.exitCode, 0) << name.err;
  auto tree = Open(file);
  ASSERT_NE(tree, nullptr);
  const ModuleState module = Module();
  int same = 0;
  int failed = 0;
  for (Parameter* p : Parameters(*tree)) {
    const bool networkName = p->name == "CHAr*";
    if (!networkName && FindSlot(module, *p) == nullptr) continue;
    // The network name is whole or not there.
    const std::string expected = networkName ? name.out.substr(std::string("CHAr* = ").size(), name.out.size() - 9)
                                             : ModuleValue(module, *p);
    if (p->comment.empty()) {
      ++same;
      EXPECT_EQ(p->value, expected) << p->name << ":" << p->index << " saved without an error";
    } else {
      ++failed;
      EXPECT_TRUE(p->value == kNoDataText || p->value == expected)
          << p->name << ":" << p->index << " = " << p->value << " with " << p->comment;
    }
  }
  EXPECT_GT(same, 100);
  EXPECT_GT(failed, 0);
  std::ifstream frames(log);
  std::stringstream text;
  text << frames.rdbuf();
  for (const char* fault : {"сбой: late", "сбой: other-hash", "сбой: lost-start", "сбой: drop"}) {
    EXPECT_NE(text.str().find(fault), std::string::npos) << fault << " never happened: the mix proves nothing";
  }
}

TEST_F(JobsOverSim, ASilentModuleIsAFailureNotData) {
  ASSERT_TRUE(Start({"--baud", "115200"}).running());
  ASSERT_EQ(Kvtr({"read", file, "--baud", "115200"}).exitCode, 0);
  ASSERT_EQ(sim->Control("fault drop probability 1"), "ok");
  const std::string limit = "Конфигуратор КВТР: " + ReadFailureLimitText(5, false);
  const struct {
    std::vector<std::string> args;
    const char* notShown;  // a live value would show as this
  } rows[] = {
      {{"watch", "--json"}, "\"inputs\""},
      {{"watch"}, "Входы:"},
      {{"poll", "I.Flt:3", "--period", "100"}, " = "},
      {{"compare", file}, "Обнаружено"},
  };
  ToolRun run;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.args[0] + (r.args.size() > 1 ? " " + r.args[1] : std::string()));
    const std::size_t before = HeardFrames(log).size();
    std::vector<std::string> args = r.args;
    args.insert(args.end(), {"--baud", "115200"});
    run = Kvtr(args);
    EXPECT_EQ(run.exitCode, 202) << run.out << run.err;
    EXPECT_NE(run.err.find(limit), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find(r.notShown), std::string::npos) << run.out;
    // Five reads of four sends each; a cyclic reading may have begun one more as it stopped.
    const std::size_t sent = HeardFrames(log).size() - before;
    EXPECT_GE(sent, 5u * 4u);
    EXPECT_LT(sent, 6u * 4u);
  }
  // What the compare could not read is listed with its error, and not counted as a difference.
  EXPECT_EQ(run.out.rfind("Отличий не обнаружено\n\nНе сравнивались 5 параметров: их не удалось прочитать из "
                          "прибора:\n",
                          0),
            0u)
      << run.out;
  EXPECT_NE(run.out.find(" - Таймаут при передаче данных (нет связи)\n"), std::string::npos) << run.out;
}

TEST_F(JobsOverSim, APortThatVanishesEndsTheJobAtOnceWith201) {
  const struct {
    std::vector<std::string> args;
  } rows[] = {
      {{"read", file}},
      {{"poll", "I.Flt:3", "--period", "100"}},
      {{"watch", "--json"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.args[0]);
    log = ScratchPath("frames-" + r.args[0] + ".log");
    state = ScratchPath("module-" + r.args[0] + ".state");
    ASSERT_TRUE(Start({"--delay-ms", "20"}).running());
    const std::string port = sim->port();
    auto job = std::async(std::launch::async, [this, args = r.args] { return Kvtr(args); });
    ASSERT_EQ(sim->Control("frames 10"), "ok");
    sim->Stop();
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_EQ(job.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    const ToolRun run = job.get();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(3)) << "no string of failures";
    EXPECT_EQ(run.exitCode, 201) << run.err;
    EXPECT_NE(run.err.find("Ошибка драйвера последовательного порта: Порт " + port + " пропал во время обмена"),
              std::string::npos)
        << run.err;
  }
}

TEST_F(JobsOverSim, AnotherDeviceEndsIdentifyWith206) {
  ASSERT_TRUE(Start({"--dev", "ZRP8"}).running());
  const ToolRun run = Kvtr({"identify"});
  EXPECT_EQ(run.exitCode, 206);
  EXPECT_EQ(run.out, "Прибор: ZRP8\nВерсия ПО: 1.0\n");
}

}  // namespace
}  // namespace kvtr::test
