// The module commands of the kvtr tool where no module is needed: the port list, the checks that
// come before the line, and a port that cannot be opened. The exchanges themselves are tested
// against the simulated module in the integration tests.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "unit/tools/cli/run_tool.h"

namespace kvtr {
namespace {

namespace fs = std::filesystem;
using testing::runTool;

class ModuleCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kvtr-cli-" + std::to_string(std::random_device{}()));
    fs::create_directories(root_);
    // The tool reads and writes the settings of this test only.
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("KVTR_SYSTEM_ROOT");
    fs::remove_all(root_);
  }
  fs::path root_;
};

TEST_F(ModuleCommandsTest, PortsListsDevicesWithTheirDescriptions) {
  const fs::path sys = root_ / "sys";
  const fs::path usb = sys / "devices/pci0000:00/usb1/1-2";
  fs::create_directories(usb / "1-2:1.0/tty/ttyUSB0");
  std::ofstream(usb / "manufacturer") << "FTDI\n";
  std::ofstream(usb / "product") << "FT232R USB UART\n";
  fs::create_directories(root_ / "sys/bus/drivers/ftdi_sio");
  fs::create_directory_symlink(root_ / "sys/bus/drivers/ftdi_sio", usb / "1-2:1.0/driver");
  fs::create_directory_symlink(usb / "1-2:1.0", usb / "1-2:1.0/tty/ttyUSB0/device");
  fs::create_directories(sys / "class/tty");
  fs::create_directory_symlink(usb / "1-2:1.0/tty/ttyUSB0", sys / "class/tty/ttyUSB0");
  fs::create_directories(root_ / "dev/serial/by-id");
  fs::create_symlink("../../ttyUSB0", root_ / "dev/serial/by-id/usb-FTDI_A50285BI-if00-port0");
  ::setenv("KVTR_SYSTEM_ROOT", root_.c_str(), 1);

  const auto run = runTool("kvtr", {"ports"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "/dev/serial/by-id/usb-FTDI_A50285BI-if00-port0\tFTDI FT232R USB UART (/dev/ttyUSB0)\n");

  ::setenv("KVTR_SYSTEM_ROOT", (root_ / "empty").c_str(), 1);
  const auto none = runTool("kvtr", {"ports"});
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(runTool("kvtr", {"ports", "extra"}).exitCode, 2);
}

TEST_F(ModuleCommandsTest, MistakesAreFoundBeforeTheLine) {
  const std::string missing = (root_ / "no-such-port").string();
  const struct {
    std::vector<std::string> args;
    int exitCode;
    const char* errPart;
  } rows[] = {
      {{"get"}, 2, "не названо ни одного параметра"},
      {{"get", "dev:x"}, 2, "неверный индекс"},
      {{"get", ":3"}, 2, "нет имени параметра"},
      {{"set", "I.Flt"}, 2, "не в виде ИМЯ=ЗНАЧЕНИЕ"},
      {{"get", "dev", "--baud", "1234"}, 2, "неподдерживаемая скорость --baud"},
      {{"get", "dev", "--parity", "mark"}, 2, "--parity принимает none, even или odd"},
      {{"get", "dev", "--address", "300"}, 2, "не помещается в 8-битную адресацию"},
      {{"get", "dev", "--data-bits", "9"}, 2, "--data-bits принимает значения от 5 до 8"},
      {{"get", "dev", "--converter", "rts"}, 2, "--converter принимает auto или semi"},
      {{"apply", "--once"}, 2, "--once — только вместе с --broadcast"},
      {{"get", "dev", "--frob"}, 2, "неизвестный параметр «--frob»"},
      {{"get", "dev", "foo", "--port", missing}, 1, "Параметер 'foo' не описан!"},
      {{"set", "I.Flt:0=300", "--port", missing}, 1,
       "Неудалось изменить параметер: Параметеру 'I.Flt' (Время фильтрации дребезга, мс)\nне может быть присвоено "
       "значение '300'.\n (Значение этого параметра должно быть int и\n должно быть больше 0.000000 и меньше "
       "250.000000)"},
      {{"get", "dev", "--port", missing}, 201,
       "Ошибка драйвера последовательного порта: Не удается открыть порт "},
      {{"get", "dev", "--descriptor", missing}, 1, "Ошибка открытия файла дерева!"},
      {{"aply", "--new-parity", "mark"}, 2, "--new-parity принимает none, even или odd"},
      {{"aply", "--new-baud", "1234", "--port", missing}, 2,
       "bPS прибора принимает одно из значений 2400 4800 9600 14400 19200 28800 38400 57600 115200, а не «1234»"},
      {{"aply", "--new-stop-bits", "3", "--port", missing}, 2, "Sbit прибора принимает одно из значений 1 2, а не «3»"},
      {{"aply", "--new-address", "3000", "--port", missing}, 1,
       "Параметеру 'Addr' (Базовый адрес прибора)\nне может быть присвоено значение '3000'"},
      {{"scan", "extra"}, 2, "аргументы не нужны"},
      {{"scan", "--addresses", "40-30", "--port", missing}, 2, "--addresses принимает ОТ-ДО в пределах 0..255"},
      {{"scan", "--addresses", "0-300", "--port", missing}, 2, "--addresses принимает ОТ-ДО в пределах 0..255"},
      {{"scan", "--addresses", "0-300", "--address-length", "11", "--port", missing}, 201, "Не удается открыть порт"},
      {{"scan", "--quiet", "--port", missing}, 201, "Не удается открыть порт "},
  };
  for (const auto& r : rows) {
    std::string shown = "kvtr";
    for (const auto& a : r.args) shown += " " + a;
    const auto run = runTool("kvtr", r.args);
    EXPECT_EQ(run.exitCode, r.exitCode) << shown << "\n" << run.err;
    EXPECT_EQ(run.out, "") << shown;
    EXPECT_NE(run.err.find(r.errPart), std::string::npos) << shown << "\n" << run.err;
  }
  // Nothing of this run's options was stored.
  EXPECT_FALSE(fs::exists(root_ / "config/kvtr/settings"));
}

}  // namespace
}  // namespace kvtr
