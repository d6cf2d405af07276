#include "model/net_rs485.h"

namespace kvtr {

NetRS485::NetRS485() : NetRS485("Сетевые параметры прибора") {}

NetRS485::NetRS485(std::string titleText) : InvisibleElement(std::move(titleText)) { AddNetworkSettings(); }

void NetRS485::AddNetworkSettings() {
  // Each list is also the encoding: the module takes the position of the text in it.
  const struct {
    const char* name;
    const char* description;
    const char* type;
  } rows[] = {
      {"bPS", "Скорость обмена", "2400:4800:9600:14400:19200:28800:38400:57600:115200"},
      {"LEn", "Длина слова данных", "7:8"},
      {"PrtY", "Четность", "Отсутствует:Четность:Нечетность"},
      {"Sbit", "Кол-во стоп-бит", "1:2"},
      {"A.Len", "Длина адреса RS-485", "8:11"},
      {"Addr", "Базовый адрес прибора", "int"},
  };
  for (const auto& row : rows) AddParameter(row.name, row.type, row.description).exchangeable = 1;
}

void NetRS485::RebuildParameters() {
  DeleteParameters();
  AddNetworkSettings();
}

NetRS485prg::NetRS485prg() : NetRS485("Сетевые параметры программы") { NetRS485prg::RebuildParameters(); }

NetRS485prg::~NetRS485prg() {
  if (!onDestroy) return;
  // A destructor must not throw; settings that cannot be saved are the only loss.
  try {
    onDestroy(*this);
  } catch (...) {
  }
}

void NetRS485prg::RebuildParameters() {
  DeleteParameters();
  AddNetworkSettings();
  // The program's port settings until stored ones replace them.
  const struct {
    const char* name;
    const char* value;
  } defaults[] = {{"bPS", "9600"}, {"LEn", "8"}, {"PrtY", "Отсутствует"}, {"Sbit", "1"}, {"A.Len", "8"}, {"Addr", "16"}};
  for (const auto& d : defaults) FindParameter(d.name)->value = d.value;
  Parameter& port = AddParameter("Port", portChoices, "Порт компьютера");
  port.exchangeable = 1;
  port.value = "COM1";
}

}  // namespace kvtr
