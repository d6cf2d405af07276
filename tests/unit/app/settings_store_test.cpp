#include "app/settings_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kvtr {
namespace {

namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(::testing::TempDir()) / "kvtr-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string fileText(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path dir_;
};

TEST(SettingsText, ParsesNumbersTextsAndSkipsWhatDoesNotParse) {
  const auto entries = parseSettingsText(
      "# comment\n"
      "address = 16\n"  // before any section: skipped
      "[Software\\DORV\\KVTR]\n"
      "address = 300\r\n"
      "baud_rate=-5\n"  // not an unsigned number
      "port_name = \"/dev/serial/by-id/usb-\\\"x\\\"\\\\y\"\n"
      "broken = \"open\n"
      "bad_escape = \"a\\tb\"\n"
      "no_equals_sign\n"
      "[Software\\DORV\\Devices\\KVTR]\n"
      "devices = \"КВТР\"\n");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].value.name, "address");
  EXPECT_EQ(std::get<std::uint32_t>(entries[0].value.data), 300u);
  EXPECT_EQ(std::get<std::string>(entries[1].value.data), "/dev/serial/by-id/usb-\"x\"\\y");
  EXPECT_EQ(entries[2].section, "Software\\DORV\\Devices\\KVTR");
  EXPECT_EQ(std::get<std::string>(entries[2].value.data), "КВТР");
}

TEST(SettingsText, FormatReadsBackTheSameValues) {
  const std::vector<SettingsFileEntry> entries = {
      {"Software\\DORV\\KVTR", {"address", 2047u}},
      {"Software\\DORV\\KVTR", {"port_name", std::string("a \"b\"\\c\nd\re")}},
      {"Software\\DORV\\Devices\\KVTR", {"application", std::string("\"/usr/bin/kvtr-configurator\"")}},
      {"Software\\DORV\\KVTR", {"port_number", 4294967295u}},
  };
  const auto back = parseSettingsText(formatSettingsText(entries));
  ASSERT_EQ(back.size(), entries.size());
  for (const auto& e : entries) {
    const auto it = std::find_if(back.begin(), back.end(), [&](const SettingsFileEntry& b) {
      return b.section == e.section && b.value.name == e.value.name;
    });
    ASSERT_NE(it, back.end()) << e.value.name;
    EXPECT_EQ(it->value.data, e.value.data) << e.value.name;
  }
}

TEST_F(SettingsFileTest, MissingFileGivesDefaultsAndFirstSaveCreatesIt) {
  const fs::path file = dir_ / "config" / "kvtr" / "settings";
  FileSettingsStore store(file);
  const StoredPortSettings defaults = loadPortSettings(store);
  EXPECT_EQ(defaults.address, 16u);
  EXPECT_EQ(defaults.addressLength, 8u);
  EXPECT_EQ(defaults.baudRate, 9600u);
  EXPECT_EQ(defaults.byteSize, 8u);
  EXPECT_EQ(defaults.stopBits, 1u);
  EXPECT_EQ(defaults.parityScheme, 3u);
  EXPECT_EQ(defaults.port(), "COM1");
  EXPECT_FALSE(fs::exists(file));

  StoredPortSettings s = defaults;
  s.address = 200;
  s.baudRate = 115200;
  s.parityScheme = 4;
  s.setPort("/dev/ttyUSB0");
  ASSERT_TRUE(savePortSettings(store, s)) << store.lastError();
  ASSERT_TRUE(fs::exists(file));
  const StoredPortSettings back = loadPortSettings(FileSettingsStore(file));
  EXPECT_EQ(back.address, 200u);
  EXPECT_EQ(back.baudRate, 115200u);
  EXPECT_EQ(back.parityScheme, 4u);
  EXPECT_EQ(back.port(), "/dev/ttyUSB0");
  EXPECT_EQ(back.portNumber, 1u);  // the last COM port stays for programs that know only those
}

TEST_F(SettingsFileTest, WritingOneKeyKeepsTheOtherKeysValues) {
  const fs::path file = dir_ / "settings";
  FileSettingsStore store(file);
  ASSERT_TRUE(registerDeviceName(store));
  ASSERT_TRUE(store.write(SettingsKey::Devices, {{"application", std::string("\"/opt/kvtr\"")}}, true));
  ASSERT_TRUE(savePortSettings(store, StoredPortSettings{}));
  EXPECT_EQ(store.readText(SettingsKey::Devices, "devices"), "КВТР");
  EXPECT_EQ(store.readText(SettingsKey::Devices, "APPLICATION"), "\"/opt/kvtr\"");
  EXPECT_EQ(store.readNumber(SettingsKey::Port, "address"), 16u);
  // A value of the other type is not there for the reader.
  EXPECT_EQ(store.readNumber(SettingsKey::Devices, "devices"), std::nullopt);
  EXPECT_EQ(store.readText(SettingsKey::Port, "address"), std::nullopt);
  // Values of one name are not repeated by saving twice.
  ASSERT_TRUE(savePortSettings(store, StoredPortSettings{}));
  const std::string text = fileText(file);
  EXPECT_EQ(text.find("address ="), text.rfind("address ="));
}

TEST_F(SettingsFileTest, AFolderThatCannotBeMadeFailsWithAReason) {
  // A file where the folder should be stops even root.
  std::ofstream(dir_ / "blocker") << "x";
  FileSettingsStore store(dir_ / "blocker" / "kvtr" / "settings");
  EXPECT_FALSE(savePortSettings(store, StoredPortSettings{}));
  EXPECT_NE(store.lastError().find("blocker"), std::string::npos) << store.lastError();
  EXPECT_EQ(loadPortSettings(store).baudRate, 9600u);
}

TEST(SettingsFilePath, FollowsXdgConfigHomeThenHome) {
  const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
  const char* oldHome = std::getenv("HOME");
  const std::string savedXdg = oldXdg ? oldXdg : "";
  const std::string savedHome = oldHome ? oldHome : "";

  ::setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(FileSettingsStore::defaultPath(), fs::path("/tmp/xdg/kvtr/settings"));
  ::setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(FileSettingsStore::defaultPath(), fs::path("/home/u/.config/kvtr/settings"));
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(FileSettingsStore::defaultPath(), fs::path("/home/u/.config/kvtr/settings"));
  ::unsetenv("HOME");
  EXPECT_TRUE(FileSettingsStore::defaultPath().empty());

  if (oldXdg) ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
  if (oldHome) ::setenv("HOME", savedHome.c_str(), 1);
}

TEST(StoredPortSettings, ComNamesGoToTheNumberAndPathsToTheName) {
  const struct {
    const char* port;
    std::uint32_t number;
    const char* name;
    const char* shown;
  } rows[] = {
      {"COM3", 3, "", "COM3"},
      {"com12", 12, "", "COM12"},
      {"COM256", 256, "", "COM256"},
      {"COM257", 7, "COM257", "COM257"},  // not a COM port the system can have
      {"COM0", 7, "COM0", "COM0"},
      {"COMx", 7, "COMx", "COMx"},
      {"/dev/ttyUSB0", 7, "/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"ttyACM1", 7, "ttyACM1", "ttyACM1"},
  };
  for (const auto& r : rows) {
    StoredPortSettings s;
    s.portNumber = 7;
    s.portName = "/dev/previous";
    s.setPort(r.port);
    EXPECT_EQ(s.portNumber, r.number) << r.port;
    EXPECT_EQ(s.portName, r.name) << r.port;
    EXPECT_EQ(s.port(), r.shown) << r.port;
  }
}

TEST(MemorySettingsStore, PortKeyIsOpenedNotCreated) {
  MemorySettingsStore store;
  StoredPortSettings s;
  s.address = 99;
  EXPECT_FALSE(savePortSettings(store, s));
  EXPECT_EQ(loadPortSettings(store).address, 16u);
  store.createKey(SettingsKey::Port);
  EXPECT_TRUE(savePortSettings(store, s));
  EXPECT_EQ(loadPortSettings(store).address, 99u);
  // The devices key is created when missing.
  EXPECT_TRUE(registerDeviceName(store));
  EXPECT_EQ(store.readText(SettingsKey::Devices, "devices"), "КВТР");
}

}  // namespace
}  // namespace kvtr
