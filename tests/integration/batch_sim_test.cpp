// kvtr batch against the simulated module: the desktop program's command line run without
// windows, its files, its error log, its exit event and every exit code of an unattended run
// provoked by its cause.
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/strings.h"
#include "common/user_interface.h"
#include "integration/sim_fixture.h"
#include "model/descriptor_loader.h"
#include "model/text_encoding.h"
#include "storage/configuration_file.h"
#include "unit/tools/cli/run_tool.h"

namespace kvtr::test {
namespace {

using namespace std::chrono_literals;
using kvtr::testing::runTool;
using kvtr::testing::ToolRun;

const std::filesystem::path kDescriptor = std::filesystem::path(KVTR_BIN_DIR) / "kvtr.tree.dat";

class BatchOverSim : public SimFixture {
 protected:
  void SetUp() override { UseScratchSettings(); }

  static ToolRun Batch(std::vector<std::string> args) {
    args.insert(args.begin(), "batch");
    return runTool("kvtr", args);
  }
  // The same, running while the test goes on.
  static std::future<ToolRun> BatchInBackground(std::vector<std::string> args) {
    return std::async(std::launch::async, [args] { return Batch(args); });
  }
  static ToolRun Finish(std::future<ToolRun>& run) {
    EXPECT_EQ(run.wait_for(60s), std::future_status::ready) << "kvtr batch did not end";
    return run.get();
  }

  // Opens a configuration file, lets the test change it as an operator would, saves it again.
  template <typename Change>
  static void EditFile(const std::string& file, Change change) {
    SilentUserInterface ui;
    OpenOptions options;
    options.loadDescriptor = DescriptorFromFile(kDescriptor);
    OpenResult opened = OpenConfigurationFile(file, ui, options);
    ASSERT_TRUE(opened.tree && opened.tree->root()) << opened.detail;
    change(*opened.tree);
    ASSERT_TRUE(SaveConfigurationFile(*opened.tree, file));
  }

  // The lines of the error log, as UTF-8.
  std::vector<std::string> ErrorLog(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    std::vector<std::string> lines;
    std::istringstream in(cp1251ToUtf8(text.str()));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

std::string PortOption(const SimProcess& sim) { return "/port:" + sim.port(); }

// The simulator's memory as its state file keeps it: "value NAME INDEX HEX ATTR".
struct StateValue {
  std::vector<std::uint8_t> bytes;
  int attributes = 0;
};
std::map<std::pair<std::string, int>, StateValue> ReadState(const std::string& path) {
  std::map<std::pair<std::string, int>, StateValue> values;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    std::istringstream in(line);
    std::string word, name, hex;
    int index = 0;
    StateValue v;
    if (!(in >> word >> name >> index >> hex >> v.attributes) || word != "value") continue;
    for (std::size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2) {
      v.bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    values[{toLowerAscii(name), index}] = v;
  }
  return values;
}

TEST_F(BatchOverSim, ReadJobSavesWhatTheModuleHolds) {
  const std::string state = ScratchPath("module.state");
  // Inputs held still, so that no counter moves between the read and the look at the memory.
  SimProcess& sim = StartSim({"--state", state, "--inputs", "0"});
  ASSERT_TRUE(sim.running());
  // Attributes that differ from a new module's, so that the file cannot match by chance.
  ASSERT_EQ(sim.Control("attr I.Flt 3 1"), "ok");
  std::filesystem::create_directories(ScratchPath("Saved Files"));
  const std::string file = ScratchPath("Saved Files/Module A.KVTR");

  const ToolRun run = Batch({PortOption(sim), "/READ", file});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(sim.Control("save"), "ok");

  SilentUserInterface ui;
  OpenOptions options;
  options.loadDescriptor = DescriptorFromFile(kDescriptor);
  OpenResult opened = OpenConfigurationFile(file, ui, options);
  ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail;
  ASSERT_NE(opened.tree, nullptr);
  ASSERT_NE(opened.tree->root(), nullptr);

  const auto memory = ReadState(state);
  ASSERT_GT(memory.size(), 100u);
  // Every value the configuration keeps (the operational parameters of the polling are not part
  // of it).
  std::size_t compared = 0;
  ParameterTree::ForEachParameter(*opened.tree->root(), [&](Parameter& p) {
    EXPECT_TRUE(p.comment.empty()) << p.name << ": " << p.comment;
    // The network name lives in the module as four characters of their own.
    if (equalsNoCase(p.name, "CHAr*")) return;
    const auto it = memory.find({toLowerAscii(p.name), p.hasIndex ? p.index : 0});
    if (it == memory.end()) return;
    std::string text;
    ASSERT_EQ(p.ConvertFromData(it->second.bytes, text), 1) << p.name;
    EXPECT_EQ(p.value, text) << p.name << ":" << p.index;
    if (p.attributeMode != 0) {
      EXPECT_EQ(p.editable != 0, (it->second.attributes & 1) != 0) << p.name << ":" << p.index;
      EXPECT_EQ(p.ownerFirm != 0, (it->second.attributes & 2) == 0) << p.name << ":" << p.index;
    }
    ++compared;
  });
  EXPECT_GT(compared, 140u);

  // The port given on the command line is kept for the next run.
  std::ifstream settings(ScratchPath("config/kvtr/settings"));
  std::stringstream text;
  text << settings.rdbuf();
  EXPECT_NE(text.str().find(sim.port()), std::string::npos) << text.str();
}

TEST_F(BatchOverSim, WriteJobPutsTheFileIntoTheModule) {
  SimProcess& source = StartSim({"--inputs", "0"});
  SimProcess& target = StartSim({"--inputs", "0", "--state", ScratchPath("target.state")});
  ASSERT_TRUE(source.running());
  ASSERT_TRUE(target.running());
  ASSERT_EQ(source.Control("attr t.Ans 0 1"), "ok");
  const std::string file = ScratchPath("conf.kvtr");
  ASSERT_EQ(Batch({PortOption(source), "/read", file}).exitCode, 0);

  const std::string log = ScratchPath("errors.log");
  const ToolRun run = Batch({"-write", PortOption(target), "-elog:" + log, file});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(log));
  EXPECT_TRUE(ErrorLog(log).empty());
  // What the target holds now reads back as the same file.
  const std::string again = ScratchPath("again.kvtr");
  ASSERT_EQ(Batch({PortOption(target), "/read", again}).exitCode, 0);
  SilentUserInterface ui;
  OpenOptions options;
  options.loadDescriptor = DescriptorFromFile(kDescriptor);
  const OpenResult a = OpenConfigurationFile(file, ui, options);
  const OpenResult b = OpenConfigurationFile(again, ui, options);
  ASSERT_TRUE(a.tree && a.tree->root() && b.tree && b.tree->root());
  const auto describe = [](const ParameterTree& tree) {
    std::vector<std::string> lines;
    ParameterTree::ForEachParameter(*tree.root(), [&](Parameter& p) {
      lines.push_back(p.name + ":" + std::to_string(p.index) + "=" + p.value + " " + std::to_string(p.editable) +
                      std::to_string(p.ownerFirm));
    });
    return lines;
  };
  EXPECT_EQ(describe(*a.tree), describe(*b.tree));
}

// The write job of the desktop program's command line checks a file's values as kvtr write does.
TEST_F(BatchOverSim, WriteJobDoesNotSendAValueThatFailsTheRules) {
  const std::string state = ScratchPath("module.state");
  SimProcess& sim = StartSim({"--inputs", "0", "--state", state});
  ASSERT_TRUE(sim.running());
  const std::string file = ScratchPath("conf.kvtr");
  ASSERT_EQ(Batch({PortOption(sim), "/read", file}).exitCode, 0);
  EditFile(file, [](ParameterTree& tree) {
    ParameterTree::ForEachParameter(*tree.root(), [](Parameter& p) {
      if (p.name == "I.Flt" && p.index == 3) p.value = "ZZ";
    });
  });
  const std::string log = ScratchPath("errors.log");
  const ToolRun run = Batch({"/write", PortOption(sim), "-elog:" + log, file});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  const std::string refusal = "I.Flt:3 - Значение 'ZZ' не записано: значение должно быть целым числом от 0 до 250";
  EXPECT_NE(run.err.find("kvtr batch: " + refusal + "\n"), std::string::npos) << run.err;
  EXPECT_EQ(ErrorLog(log), std::vector<std::string>{refusal});
  ASSERT_EQ(sim.Control("save"), "ok");
  const std::vector<std::uint8_t> held = ReadState(state)[{"i.flt", 3}].bytes;
  EXPECT_EQ(held, std::vector<std::uint8_t>(1, 10)) << "the module keeps its value";
}

TEST_F(BatchOverSim, AplyFollowsAWrittenNetworkSetting) {
  SimProcess& sim = StartSim({"--inputs", "0"});
  ASSERT_TRUE(sim.running());
  const std::string file = ScratchPath("conf.kvtr");
  ASSERT_EQ(Batch({PortOption(sim), "/read", file}).exitCode, 0);
  // The configuration asks for another speed.
  EditFile(file, [](ParameterTree& tree) {
    ASSERT_TRUE(tree.networkSettings());
    ASSERT_EQ(tree.networkSettings()->SetValueByName("bPS", "19200"), SetValueResult::Stored);
  });
  // Without "aply" the module gets the setting but keeps its speed until told, and so does the
  // program.
  ToolRun run = Batch({"/write", PortOption(sim), file});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  run = Batch({"/read", ScratchPath("still.kvtr")});
  EXPECT_EQ(run.exitCode, 0) << run.err;

  // With it, both switch: the next run talks at the new speed, kept in the settings.
  run = Batch({"/write/aply", file});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  std::ifstream settings(ScratchPath("config/kvtr/settings"));
  std::stringstream text;
  text << settings.rdbuf();
  EXPECT_NE(text.str().find("baud_rate = 19200"), std::string::npos) << text.str();
  run = Batch({"/read", ScratchPath("switched.kvtr")});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Batch({"/read/bps:9600", ScratchPath("old.kvtr")}).exitCode, 202);
}

TEST_F(BatchOverSim, Code200WriteJobWithoutItsFile) {
  SimProcess& sim = StartSim();
  ASSERT_TRUE(sim.running());
  const ToolRun run = Batch({"/write", PortOption(sim), ScratchPath("missing.kvtr")});
  EXPECT_EQ(run.exitCode, 200) << run.err;
  EXPECT_EQ(sim.Control("frames"), "ok 0");
}

TEST_F(BatchOverSim, Code201PortThatCannotBeOpened) {
  // The job stops at its first parameter and says which port and why, on the terminal and in the
  // error log.
  const std::string log = ScratchPath("errors.log");
  const ToolRun run =
      Batch({"/read", "-port:" + ScratchPath("no-such-tty"), "-elog:" + log, ScratchPath("out.kvtr")});
  EXPECT_EQ(run.exitCode, 201) << run.err;
  const std::string text = "Не удается открыть порт " + ScratchPath("no-such-tty") +
                           ". Связь с сетью отсутствует. Проверьте сетевые параметры (такого порта в системе нет)";
  EXPECT_NE(run.err.find("kvtr batch: " + text + "\n"), std::string::npos) << run.err;
  const auto lines = ErrorLog(log);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind(" - Ошибка открытия порта"), lines[0].size() - std::string(" - Ошибка открытия порта").size())
      << lines[0];
  EXPECT_EQ(lines[1], "Port - " + text);
}

TEST_F(BatchOverSim, Code201APortThatVanishesEndsTheJobAtOnce) {
  SimProcess& sim = StartSim({"--delay-ms", "20"});
  ASSERT_TRUE(sim.running());
  const std::string port = sim.port();
  const std::string log = ScratchPath("errors.log");
  auto job = BatchInBackground({PortOption(sim), "/read", "-elog:" + log, ScratchPath("out.kvtr")});
  ASSERT_EQ(sim.Control("frames 10", 30s), "ok");
  sim.Stop();
  const auto stopped = std::chrono::steady_clock::now();
  const ToolRun run = Finish(job);
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 3s) << "no string of failures";
  EXPECT_EQ(run.exitCode, 201) << run.err;
  const std::string text = "Порт " + port + " пропал во время обмена";
  EXPECT_NE(run.err.find("kvtr batch: " + text), std::string::npos) << run.err;
  const auto lines = ErrorLog(log);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("Port - " + text, 0), 0u) << lines.back();
}

TEST_F(BatchOverSim, Code202NoAnswer) {
  SimProcess& sim = StartSim({"--drop-every", "1"});
  ASSERT_TRUE(sim.running());
  const std::string log = ScratchPath("errors.log");
  const ToolRun run = Batch({"/read", PortOption(sim), "-elog:" + log, ScratchPath("out.kvtr")});
  EXPECT_EQ(run.exitCode, 202) << run.err;
  // Five time-outs in a row stop the read; each is in the log.
  const auto lines = ErrorLog(log);
  ASSERT_GE(lines.size(), 5u);
  for (const std::string& line : lines) {
    EXPECT_NE(line.find(" - Таймаут при передаче данных (нет связи)"), std::string::npos) << line;
  }
}

TEST_F(BatchOverSim, Code203AnAnswerAfterATimeOut) {
  // One exchange goes unanswered in the middle of the job; the module answering again afterwards
  // shows that the line itself is at fault.
  SimProcess& sim = StartSim({"--inputs", "0"});
  ASSERT_TRUE(sim.running());
  const std::string log = ScratchPath("errors.log");
  auto job = BatchInBackground({PortOption(sim), "/read", "-elog:" + log, ScratchPath("out.kvtr")});
  ASSERT_EQ(sim.Control("frames 60", 30s), "ok");
  ASSERT_EQ(sim.Control("fault drop first 4"), "ok");
  const ToolRun run = Finish(job);
  EXPECT_EQ(run.exitCode, 203) << run.err;
  const auto lines = ErrorLog(log);
  ASSERT_EQ(lines.size(), 1u);
}

TEST_F(BatchOverSim, Code204ModuleErrorReply) {
  // The module's descriptor lacks "I.Flt": it answers the reads of it with an error.
  std::ifstream source(std::string(KVTR_SOURCE_DIR) + "/data/kvtr.tree.txt");
  std::stringstream text;
  text << source.rdbuf();
  std::ofstream(ScratchPath("other.tree.txt")) << replaceAll(text.str(), "I.Flt", "I.Flx");
  const ToolRun packed = runTool("kvtr-mkdesc", {ScratchPath("other.tree.txt"), ScratchPath("other.tree.dat")});
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  SimProcess& sim = StartSim({"--descriptor", ScratchPath("other.tree.dat")});
  ASSERT_TRUE(sim.running());

  const std::string log = ScratchPath("errors.log");
  const ToolRun run = Batch({"-elog:" + log, "/read", PortOption(sim), ScratchPath("out.kvtr")});
  EXPECT_EQ(run.exitCode, 204) << run.err;
  const auto lines = ErrorLog(log);
  ASSERT_EQ(lines.size(), 12u);  // one per input
  EXPECT_EQ(lines[0].rfind("I.Flt:0 - ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[11].rfind("I.Flt:11 - ", 0), 0u) << lines[11];
  EXPECT_TRUE(std::filesystem::exists(ScratchPath("out.kvtr")));
}

TEST_F(BatchOverSim, Code205ExitEventEndsARunningJob) {
  // Slow answers keep the read going for far longer than the test waits.
  SimProcess& sim = StartSim({"--delay-ms", "60"});
  ASSERT_TRUE(sim.running());
  auto job = BatchInBackground({PortOption(sim), "/read/exitevent:Stop KVTR", ScratchPath("out.kvtr")});
  ASSERT_EQ(sim.Control("frames 10", 30s), "ok");
  const ToolRun signal = runTool("kvtr", {"signal-exit", "Stop KVTR"});
  EXPECT_EQ(signal.exitCode, 0) << signal.err;
  const auto started = std::chrono::steady_clock::now();
  const ToolRun run = Finish(job);
  EXPECT_EQ(run.exitCode, 205) << run.err;
  EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
  // The run has ended: nobody waits for the event any more.
  EXPECT_EQ(runTool("kvtr", {"signal-exit", "Stop KVTR"}).exitCode, 1);
}

TEST_F(BatchOverSim, CtrlCEndsARunningJobAsTheExitEventDoes) {
  SimProcess& sim = StartSim({"--delay-ms", "60"});
  ASSERT_TRUE(sim.running());
  const std::string program = std::string(KVTR_BIN_DIR) + "/kvtr";
  std::vector<std::string> args{"kvtr", "batch", PortOption(sim), "/read", ScratchPath("out.kvtr")};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);
  ASSERT_EQ(sim.Control("frames 10", 30s), "ok");
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the program was killed by the signal";
  EXPECT_EQ(WEXITSTATUS(status), 205);
}

// The read job of the desktop program's command line keeps the file that was there when the read
// fails, and refuses a file it could not save before the module is read.
TEST_F(BatchOverSim, AFailedReadJobKeepsTheFileThatWasThere) {
  SimProcess& sim = StartSim({"--inputs", "0"});
  ASSERT_TRUE(sim.running());
  const std::string file = ScratchPath("module.kvtr");
  ASSERT_EQ(Batch({PortOption(sim), "/read", file}).exitCode, 0);
  const auto bytesOf = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  };
  const std::string good = bytesOf(file);
  ASSERT_GT(good.size(), 1000u);

  const ToolRun run = Batch({"/read/bps:19200", PortOption(sim), file});
  EXPECT_EQ(run.exitCode, 202) << run.err;
  EXPECT_EQ(bytesOf(file), good);
  EXPECT_NE(run.err.find("kvtr batch: Чтение параметров прибора завершилось с ошибками: файл '" + file +
                         "' оставлен без изменений"),
            std::string::npos)
      << run.err;

  const std::string frames = sim.Control("frames");
  const ToolRun refused = Batch({"/read/bps:9600", PortOption(sim), "/nonexistent/dir/x.kvtr"});
  EXPECT_EQ(refused.exitCode, 1) << refused.err;
  EXPECT_NE(refused.err.find("папки '/nonexistent/dir' нет"), std::string::npos) << refused.err;
  EXPECT_EQ(sim.Control("frames"), frames) << "nothing was sent";
}

TEST_F(BatchOverSim, Code206AnotherDevice) {
  SimProcess& sim = StartSim({"--dev", "OTHER"});
  ASSERT_TRUE(sim.running());
  const ToolRun run = Batch({"/read", PortOption(sim), ScratchPath("out.kvtr")});
  EXPECT_EQ(run.exitCode, 206) << run.err;
}

TEST_F(BatchOverSim, SilentRunOpensNoPort) {
  SimProcess& sim = StartSim();
  ASSERT_TRUE(sim.running());
  const ToolRun run = Batch({PortOption(sim), "/silent/close"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(sim.Control("frames"), "ok 0");
}

}  // namespace
}  // namespace kvtr::test
