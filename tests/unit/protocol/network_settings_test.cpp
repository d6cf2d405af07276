#include "protocol/network_settings.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "common/user_interface.h"
#include "model/desc_branch.h"
#include "unit/model/recording_user_interface.h"

namespace kvtr {
namespace {

using RecordingUi = testing_support::RecordingUserInterface;

// The descriptor's network branch: the six settings plus "Prot" and others, in a DescBranch.
std::unique_ptr<DescBranch> descriptorNetworkBranch() {
  auto branch = std::make_unique<DescBranch>();
  branch->title = "Сетевые параметры";
  branch->AddParameter("bPS", "2400:4800:9600:14400:19200:28800:38400:57600:115200", "Скорость обмена").value = "9600";
  branch->AddParameter("LEn", "7:8", "Длина слова данных").value = "8";
  branch->AddParameter("PrtY", "Отсутствует:Четность:Нечетность", "Четность").value = "Отсутствует";
  branch->AddParameter("Sbit", "1:2", "Кол-во стоп-бит").value = "1";
  branch->AddParameter("A.Len", "8:11", "Длина адреса RS-485").value = "8";
  branch->AddParameter("Addr", "int", "Базовый адрес прибора").value = "16";
  branch->AddParameter("Prot", "ДОРВ:Modbus_RTU:Modbus_ASCII:Команды_%", "Протокол обмена").value = "ДОРВ";
  return branch;
}

TEST(NetworkChecks, AddressAddressLengthAndProtocol) {
  const struct {
    const char* aLen;
    const char* addr;
    const char* prot;
    const char* name;
    const char* proposed;
    bool allowed;
  } rows[] = {
      {"8", "16", "ДОРВ", "Addr", "300", false},
      {"8", "16", "ДОРВ", "Addr", "255", true},
      {"11", "16", "ДОРВ", "Addr", "300", true},
      {"11", "16", "Modbus RTU", "Addr", "300", false},  // a foreign protocol keeps 8-bit addresses
      {"11", "16", "Modbus RTU", "addr", "200", true},
      {"8", "300", "ДОРВ", "A.Len", "8", false},
      {"8", "255", "ДОРВ", "A.Len", "8", true},
      {"11", "300", "ДОРВ", "A.Len", "11", true},
      {"11", "300", "ДОРВ", "Prot", "Modbus ASCII", false},
      {"11", "300", "ДОРВ", "Prot", "ДОРВ", true},
      {"11", "255", "ДОРВ", "Prot", "Команды %", true},
      {"8", "16", "ДОРВ", "bPS", "115200", true},
  };
  for (const auto& r : rows) {
    auto node = descriptorNetworkBranch();
    node->FindParameter("A.Len")->value = r.aLen;
    node->FindParameter("Addr")->value = r.addr;
    node->FindParameter("Prot")->value = r.prot;
    EXPECT_EQ(CheckNetworkValue(*node, r.name, r.proposed), r.allowed)
        << r.name << "=" << r.proposed << " with A.Len " << r.aLen << ", Addr " << r.addr << ", Prot " << r.prot;
  }
}

TEST(NetworkChecks, ParityEightDataBitsAndTwoStopBitsAreRefusedTogether) {
  const struct {
    const char* parity;
    const char* dataBits;
    const char* stopBits;
    const char* name;
    const char* proposed;
    bool allowed;
  } rows[] = {
      {"Четность", "8", "1", "Sbit", "2", false},
      {"Четность", "7", "1", "Sbit", "2", true},
      {"Нечетность", "8", "1", "SBIT", "2", false},
      {"Отсутствует", "8", "2", "PrtY", "Нечетность", false},
      {"Отсутствует", "8", "2", "PrtY", "Отсутствует", true},
      {"Четность", "7", "2", "LEn", "8", false},
      {"Четность", "8", "2", "LEn", "7", true},
      {"Четность", "8", "2", "Addr", "5", true},  // not a frame-format setting
  };
  for (const auto& r : rows) {
    auto node = descriptorNetworkBranch();
    node->FindParameter("PrtY")->value = r.parity;
    node->FindParameter("LEn")->value = r.dataBits;
    node->FindParameter("Sbit")->value = r.stopBits;
    EXPECT_EQ(CheckFrameFormat(*node, r.name, r.proposed), r.allowed) << r.name << "=" << r.proposed;
  }
}

TEST(NetworkChecks, RefusalIsShownOnceAndTheProgramsOwnNodeIsNeverChecked) {
  RecordingUi ui;
  NetRS485 module;
  module.SetValueByName("A.Len", "8");
  EXPECT_FALSE(CheckNetworkEdit(module, "Addr", "300", &ui));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, kNetworkCombinationRefusedText);
  EXPECT_EQ(ui.messages[0].caption, "Неудалось изменить значение");
  EXPECT_EQ(ui.messages[0].icon, MessageIcon::Stop);
  EXPECT_TRUE(CheckNetworkEdit(module, "Addr", "30", &ui));

  NetRS485prg program;
  program.SetValueByName("A.Len", "8");
  program.SetValueByName("PrtY", "Четность");
  EXPECT_TRUE(CheckNetworkEdit(program, "Addr", "300", &ui));
  EXPECT_TRUE(CheckNetworkEdit(program, "Sbit", "2", &ui));
  EXPECT_EQ(ui.messages.size(), 1u);
}

TEST(CopyNetworkSettings, CopiesKnownValuesOnly) {
  auto module = descriptorNetworkBranch();
  module->FindParameter("bPS")->value = "115200";
  module->FindParameter("LEn")->value = "Нет данных";
  module->FindParameter("Addr")->value = "1000";
  module->FindParameter("A.Len")->value = "11";
  NetRS485prg program;
  program.FindParameter("Port")->value = "/dev/ttyUSB0";
  CopyNetworkSettings(*module, program);
  EXPECT_EQ(program.GetValueByName("bPS"), "115200");
  EXPECT_EQ(program.GetValueByName("LEn"), "8");  // kept
  EXPECT_EQ(program.GetValueByName("Addr"), "1000");
  EXPECT_EQ(program.GetValueByName("A.Len"), "11");
  EXPECT_EQ(program.GetValueByName("Port"), "/dev/ttyUSB0");  // not a module setting
  EXPECT_TRUE(program.FindParameter("bPS")->valueChanged);
}

TEST(ProgramPortNode, StoredValuesInAndOut) {
  StoredPortSettings stored;
  stored.address = 1000;
  stored.addressLength = 11;
  stored.baudRate = 19200;
  stored.byteSize = 7;
  stored.stopBits = 2;
  stored.parityScheme = 4;
  stored.portNumber = 3;
  NetRS485prg node;
  LoadProgramPortNode(node, stored);
  EXPECT_EQ(node.GetValueByName("Addr"), "1000");
  EXPECT_EQ(node.GetValueByName("A.Len"), "11");
  EXPECT_EQ(node.GetValueByName("bPS"), "19200");
  EXPECT_EQ(node.GetValueByName("LEn"), "7");
  EXPECT_EQ(node.GetValueByName("Sbit"), "2");
  EXPECT_EQ(node.GetValueByName("PrtY"), "Нечетность");
  EXPECT_EQ(node.GetValueByName("Port"), "COM3");

  for (const auto& [code, text] : std::vector<std::pair<std::uint32_t, std::string>>{
           {1, "Четность"}, {3, "Отсутствует"}, {0, "<неверное значние>"}, {2, "<неверное значние>"}}) {
    stored.parityScheme = code;
    LoadProgramPortNode(node, stored);
    EXPECT_EQ(node.GetValueByName("PrtY"), text) << code;
  }

  // Out: numbers from the texts; an unreadable parity or number keeps what is stored.
  node.SetValueByName("bPS", "57600");
  node.SetValueByName("Addr", "abc");
  node.SetValueByName("PrtY", "<неверное значние>");
  node.SetValueByName("Port", "/dev/serial/by-id/usb-FTDI");
  StoredPortSettings base;
  base.address = 42;
  base.parityScheme = 1;
  base.portNumber = 5;
  const StoredPortSettings out = ProgramPortSettings(node, base);
  EXPECT_EQ(out.baudRate, 57600u);
  EXPECT_EQ(out.address, 42u);
  EXPECT_EQ(out.parityScheme, 1u);
  EXPECT_EQ(out.portName, "/dev/serial/by-id/usb-FTDI");
  EXPECT_EQ(out.portNumber, 5u);
  node.SetValueByName("PrtY", "четность");  // only the case of Latin letters is ignored
  StoredPortSettings none = base;
  none.parityScheme = 3;
  EXPECT_EQ(ProgramPortSettings(node, none).parityScheme, 3u);
  node.SetValueByName("PrtY", "Нечетность");
  node.SetValueByName("Port", "COM9");
  const StoredPortSettings com = ProgramPortSettings(node, out);
  EXPECT_EQ(com.parityScheme, 4u);
  EXPECT_EQ(com.portNumber, 9u);
  EXPECT_TRUE(com.portName.empty());
}

TEST(ProgramPortNode, SavesItsValuesWhenDestroyed) {
  MemorySettingsStore store;
  store.createKey(SettingsKey::Port);
  {
    StoredPortSettings s;
    s.baudRate = 38400;
    ASSERT_TRUE(savePortSettings(store, s));
  }
  {
    NetRS485prg node;
    BindProgramPortNode(node, store);
    EXPECT_EQ(node.GetValueByName("bPS"), "38400");
    node.SetValueByName("bPS", "2400");
    node.SetValueByName("Port", "/dev/ttyS4");
    EXPECT_EQ(loadPortSettings(store).baudRate, 38400u);  // not before the node goes
  }
  const StoredPortSettings after = loadPortSettings(store);
  EXPECT_EQ(after.baudRate, 2400u);
  EXPECT_EQ(after.port(), "/dev/ttyS4");
}

}  // namespace
}  // namespace kvtr
