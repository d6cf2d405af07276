#include "model/net_rs485.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvtr {
namespace {

std::vector<std::string> names(const ObjectWithParameters& node) {
  std::vector<std::string> out;
  for (const auto& p : node.parameters()) out.push_back(p->name);
  return out;
}

TEST(NetRS485, ModuleSettingsInTheirOrder) {
  NetRS485 net;
  EXPECT_EQ(net.title, "Сетевые параметры прибора");
  EXPECT_EQ(names(net), (std::vector<std::string>{"bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr"}));
  EXPECT_EQ(net.FindParameter("PrtY")->type, "Отсутствует:Четность:Нечетность");
  EXPECT_EQ(net.FindParameter("bPS")->description, "Скорость обмена");
  for (const auto& p : net.parameters()) {
    EXPECT_EQ(p->exchangeable, 1);
    EXPECT_EQ(p->value, "Нет данных");
  }
  // The lists are the encodings: 115200 is the ninth speed.
  DataField out;
  net.FindParameter("bPS")->value = "115200";
  ASSERT_EQ(net.FindParameter("bPS")->BuildRequest(out), 1);
  EXPECT_EQ(out.length, 1u);
  EXPECT_EQ(out.bytes[0], 8);

  net.SetValueByName("Addr", "5");
  net.RebuildParameters();
  EXPECT_EQ(net.ParameterCount(), 6u);
  EXPECT_EQ(net.GetValueByName("Addr"), "Нет данных");
}

TEST(NetRS485, ProgramSettingsAddThePortAndStartFromDefaults) {
  NetRS485prg prg;
  EXPECT_EQ(prg.title, "Сетевые параметры программы");
  EXPECT_EQ(names(prg), (std::vector<std::string>{"bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr", "Port"}));
  EXPECT_EQ(prg.GetValueByName("bPS"), "9600");
  EXPECT_EQ(prg.GetValueByName("LEn"), "8");
  EXPECT_EQ(prg.GetValueByName("PrtY"), "Отсутствует");
  EXPECT_EQ(prg.GetValueByName("Sbit"), "1");
  EXPECT_EQ(prg.GetValueByName("A.Len"), "8");
  EXPECT_EQ(prg.GetValueByName("Addr"), "16");
  EXPECT_EQ(prg.GetValueByName("Port"), "COM1");
  EXPECT_EQ(prg.FindParameter("Port")->description, "Порт компьютера");

  prg.portChoices = "COM1:/dev/ttyUSB0";
  prg.RebuildParameters();
  EXPECT_EQ(prg.FindParameter("Port")->type, "COM1:/dev/ttyUSB0");
  EXPECT_EQ(prg.ParameterCount(), 7u);
}

}  // namespace
}  // namespace kvtr
