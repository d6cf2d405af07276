// kvtr get, set and apply against the simulated module: what they print and how they exit.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "integration/module_state.h"
#include "integration/sim_fixture.h"
#include "common/format.h"
#include "model/text_encoding.h"
#include "protocol/frame_codec.h"
#include "unit/tools/cli/run_tool.h"

namespace kvtr::test {
namespace {

class ModuleCommandsOverSim : public SimFixture {
 protected:
  void SetUp() override {
    // The tool keeps this test's settings only.
    ::setenv("XDG_CONFIG_HOME", ScratchPath("config").c_str(), 1);
    log = ScratchPath("frames.log");
    sim = &StartSim({"--log", log});
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    SimFixture::TearDown();
  }

  kvtr::testing::ToolRun Kvtr(std::vector<std::string> args) {
    args.push_back("--port");
    args.push_back(sim->port());
    return kvtr::testing::runTool("kvtr", args);
  }

  // Requests the simulator heard, as their hashes.
  std::vector<std::uint16_t> HeardHashes() {
    std::vector<std::uint16_t> hashes;
    std::ifstream file(log);
    for (std::string line; std::getline(file, line);) {
      if (line.rfind("RX #", 0) != 0 || line.size() < 12) continue;
      std::uint8_t b[4];
      if (!decodeTetrads(std::string_view(line).substr(4, 8), b)) continue;
      hashes.push_back(static_cast<std::uint16_t>(b[2] << 8 | b[3]));
    }
    return hashes;
  }

  SimProcess* sim = nullptr;
  std::string log;
};

TEST_F(ModuleCommandsOverSim, GetAndSetPrintWhatTheModuleHolds) {
  ASSERT_TRUE(sim->running());
  auto run = Kvtr({"set", "I.Flt:1=25", "CHAr*=AB.C", "C.Mod:0=Вычитание", "P.Lo:2=12.5"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "I.Flt:1 = 25\nCHAr* = AB.C \nC.Mod:0 = Вычитание\nP.Lo:2 = 12.500\n");
  run = Kvtr({"get", "dev", "I.Flt:1", "CHAr*", "C.Mod:0", "P.Lo:2", "t.Lnk"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "dev = KVTR\nI.Flt:1 = 25\nCHAr* = AB.C \nC.Mod:0 = Вычитание\nP.Lo:2 = 12.500\nt.Lnk = 00:10\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(ModuleCommandsOverSim, OptionsMayStandBeforeTheCommand) {
  ASSERT_TRUE(sim->running());
  const std::string file = ScratchPath("module.kvtr");
  const std::string port = sim->port();
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
  };
  const Case cases[] = {
      {{"--port", port, "--baud", "9600", "get", "dev"}, 0, "dev = KVTR\n"},
      {{"--port=" + port, "-q", "read", file}, 0, ""},
      {{"--port", port, "compare", file, "--quiet"}, 0, "Отличий не обнаружено\n"},
      // Given twice, the one after the command counts, as for any option given twice.
      {{"--address", "99", "get", "--port", port, "--address", "16", "dev"}, 0, "dev = KVTR\n"},
      // An option the command does not take is refused wherever it stands.
      {{"--port", port, "hash", "dev"}, 2, ""},
  };
  for (const Case& c : cases) {
    const auto run = kvtr::testing::runTool("kvtr", c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.args[0] << " ... " << c.args.back() << ": " << run.err;
    EXPECT_EQ(run.out, c.out) << c.args.back();
  }
}

TEST_F(ModuleCommandsOverSim, LogShowsTheExchangeAndTheIndexMayTravelInTheAddress) {
  ASSERT_TRUE(sim->running());
  auto run = Kvtr({"get", "--log", "--no-attributes", "I.Flt:2"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "Индекс передается в посылке запроса\n"
            "I.Flt (Время фильтрации дребезга, мс)\n"
            "Размер инф-ой части посылки 2 байт.\n"
            ">> Посылка: # 0 : 000 = 0x00 (.)\n"
            ">> Посылка: # 1 : 002 = 0x02 (.)\n"
            "<< Ответ: # 0 : 010 = 0x0A (.)\n"
            "<< Ответ: # 1 : 000 = 0x00 (.)\n"
            "<< Ответ: # 2 : 002 = 0x02 (.)\n"
            "Инф-ная часть квитанции ответа имеет размер 3 байт.\n"
            "Нет ошибок; строковая нотация ответа:\n"
            "10\n"
            "I.Flt:2 = 10\n");
  // With the frames: each one beside its reading.
  run = Kvtr({"get", "--frames", "--no-attributes", "I.Flt:2"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find(strprintf("\tзапрос чтения, адрес 16, I.Flt (0x%04X), индекс 2, данные 00 02\n", hashName("I.Flt"))),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find(", индекс 2, данные 0A 00 02 = 10\n"), std::string::npos) << run.out;
  run = Kvtr({"get", "--log", "--no-attributes", "--index-in-address", "I.Flt:9"});
  EXPECT_NE(run.out.find("Индекс передается в поле адреса запроса\nПредупреждение: адрес увеличен более чем на 7!\n"),
            std::string::npos)
      << run.out;
  // Address 25 is not the module's: no answer.
  EXPECT_EQ(run.exitCode, 202) << run.err;
  run = Kvtr({"get", "--no-attributes", "--index-in-address", "I.Flt:3"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "I.Flt:3 = 10\n");
}

TEST_F(ModuleCommandsOverSim, AttributesTravelUnlessSwitchedOff) {
  ASSERT_TRUE(sim->running());
  ASSERT_EQ(Kvtr({"get", "I.Flt:0"}).exitCode, 0);
  ASSERT_EQ(Kvtr({"get", "--no-attributes", "I.Flt:0"}).exitCode, 0);
  ASSERT_EQ(sim->Control("frames 3"), "ok");
  const auto hashes = HeardHashes();
  ASSERT_EQ(hashes.size(), 3u);
  EXPECT_EQ(hashes[0], kAttributesHash);
  EXPECT_EQ(hashes[1], hashName("I.Flt"));
  EXPECT_EQ(hashes[2], hashName("I.Flt"));
}

TEST_F(ModuleCommandsOverSim, ExitCodesFollowTheFailureFlags) {
  ASSERT_TRUE(sim->running());
  const struct {
    const char* control;
    std::vector<std::string> args;
    int exitCode;
    const char* errPart;
  } rows[] = {
      {"faults off", {"get", "I.Flt:12"}, 204, "I.Flt:12: Индекс параметра превышает ограничитель индекса"},
      {"fault drop every 1", {"get", "dev"}, 202, "dev: Таймаут при передаче данных (нет связи)"},
      {"fault lost-start every 1", {"get", "dev"}, 203, "dev: Потеря начала посылки."},
      {"fault bad-crc first 1", {"get", "dev"}, 1, "dev: Ошибка в контрольной сумме ответа"},
      {"fault other-hash first 1", {"get", "dev"}, 1, "dev: Пришла посылка с кодом команды"},
      {"faults off", {"set", "r.Cn=1"}, 204, "r.Cn: Попытка модификации ROM-параметра"},
      // The first fails, the second succeeds: still a failure.
      {"fault drop first 4", {"get", "dev", "ver"}, 203, "dev: Таймаут"},
      {"faults off", {"set", "Addr=300"}, 1, "Запрещенные комбинации сетевых параметров"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.control);
    ASSERT_EQ(sim->Control("faults off"), "ok");
    ASSERT_EQ(sim->Control(r.control), "ok");
    const auto run = Kvtr(r.args);
    EXPECT_EQ(run.exitCode, r.exitCode) << run.out << run.err;
    EXPECT_NE(run.err.find(r.errPart), std::string::npos) << run.err;
  }
}

TEST_F(ModuleCommandsOverSim, APortThatCannotBeOpenedSaysWhy) {
  ASSERT_TRUE(sim->running());
  // A watch holds the module's port for as long as it runs.
  const std::string program = std::string(KVTR_BIN_DIR) + "/kvtr";
  std::vector<std::string> watchArgs = {program, "watch", "--json", "--port", sim->port()};
  std::vector<char*> argv;
  for (std::string& a : watchArgs) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  pid_t watch = 0;
  ASSERT_EQ(::posix_spawn(&watch, program.c_str(), &quiet, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&quiet);
  ASSERT_EQ(sim->Control("frames 2"), "ok");

  const std::string opening = "Ошибка драйвера последовательного порта: Не удается открыть порт ";
  const std::string advice = ". Связь с сетью отсутствует. Проверьте сетевые параметры (";
  const struct {
    std::string port;
    const char* reason;
  } rows[] = {
      {ScratchPath("no-such-tty"), "такого порта в системе нет"},
      {sim->port(), "порт занят другой программой"},
      {"/etc/passwd", "это не последовательный порт"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.port);
    const std::string elog = ScratchPath("errors.log");
    const auto run = kvtr::testing::runTool(
        "kvtr", {"read", ScratchPath("module.kvtr"), "--elog", elog, "--port", r.port});
    EXPECT_EQ(run.exitCode, 201) << run.err;
    const std::string text = r.port + advice + r.reason + ")";
    EXPECT_NE(run.err.find(opening + text + "\n"), std::string::npos) << run.err;
    std::ifstream in(elog, std::ios::binary);
    std::stringstream logged;
    logged << in.rdbuf();
    EXPECT_EQ(cp1251ToUtf8(logged.str()), "Port - Не удается открыть порт " + text + "\n");
  }
  ::kill(watch, SIGTERM);
  int status = 0;
  EXPECT_EQ(::waitpid(watch, &status, 0), watch);
}

// A list of values is checked whole, indexes and network combination included, before the
// first write: the module hears reads at most, and keeps its value of the list's first entry.
TEST_F(ModuleCommandsOverSim, SetChecksTheWholeListBeforeTheFirstWrite) {
  ASSERT_TRUE(sim->running());
  const struct {
    const char* refused;
    const char* errPart;
  } rows[] = {
      {"I.Flt:12=5", "Параметр 'I.Flt:12' не найден: индексы I.Flt от 0 до 11"},
      {"I.Flt=5", "Параметр 'I.Flt' задается с индексом: I.Flt:0 ... I.Flt:11"},
      {"P.Hi:0=99.5xyz", "не может быть присвоено значение '99.5xyz'"},
      {"C.Mod:0=Foo", "(Значение этого параметра должно быть одним из: Выключен, Суммирование, Вычитание, "
                      "Суммирование с автосбросом)"},
      {"dev=XYZ", "Параметр 'dev' (Тип прибора) только читается из прибора"},
      {"Addr=300", "Запрещенные комбинации сетевых параметров"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.refused);
    const auto run = Kvtr({"set", "I.Flt:0=20", r.refused});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(r.errPart), std::string::npos) << run.err;
  }
  // The combination check read A.Len and Prot; nothing was written.
  const std::vector<HeardFrame> heard = HeardFrames(log);
  EXPECT_FALSE(heard.empty());
  for (const HeardFrame& f : heard) EXPECT_TRUE(f.read) << f.hash;
  EXPECT_EQ(Kvtr({"get", "I.Flt:0"}).out, "I.Flt:0 = 10\n");
}

// A comma typed as the decimal point is one; text after a number refuses it (above).
TEST_F(ModuleCommandsOverSim, ADecimalCommaIsTheDecimalPoint) {
  ASSERT_TRUE(sim->running());
  const auto run = Kvtr({"set", "r.oe:3=0,7", "P.Hi:0=99,5"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "r.oe:3 = 0.700\nP.Hi:0 = 99.500\n");
}

TEST_F(ModuleCommandsOverSim, ApplyMovesModuleAndProgramToTheNewSettings) {
  ASSERT_TRUE(sim->running());
  auto run = Kvtr({"set", "bPS=19200", "Addr=20", "Sbit=2"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("kvtr apply"), std::string::npos);
  // Until APLY the module answers at the old settings.
  EXPECT_EQ(Kvtr({"get", "dev"}).exitCode, 0);
  run = Kvtr({"apply"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "APLY: послан\nСкорость: 19200\nДлина слова данных: 8\nЧетность: Отсутствует\nКол-во стоп-бит: 2\n"
            "Длина адреса: 8\nАдрес: 20\ndev = KVTR\n");
  // The stored settings follow: without options the next run finds the module.
  run = kvtr::testing::runTool("kvtr", {"get", "bPS", "Addr", "Sbit"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "bPS = 19200\nAddr = 20\nSbit = 2\n");
  // The old settings no longer reach it.
  run = kvtr::testing::runTool("kvtr", {"get", "dev", "--baud", "9600"});
  EXPECT_EQ(run.exitCode, 202) << run.err;
}

}  // namespace
}  // namespace kvtr::test
