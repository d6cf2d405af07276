// The module's network settings and the program's own port settings: the checks that keep the
// module's settings in combinations it supports, the copy from the module's settings to the
// program's, and how the program's port-settings node is loaded from and saved to the stored
// settings.
//
// The checks work on any node that holds the settings by name: the program's NetRS485 nodes
// and the descriptor's "Сетевые_параметры" branch alike.
#pragma once

#include <array>
#include <string_view>

#include "common/catalogue.h"
#include "model/my_converter.h"
#include "model/net_rs485.h"
#include "model/object_with_parameters.h"
#include "protocol/port_settings_storage.h"

namespace kvtr {

class UserInterface;

// The six settings that the module and the program share, in the order they are copied.
inline constexpr std::array<std::string_view, 6> kNetworkSettingNames = {"bPS", "LEn", "PrtY", "Sbit", "A.Len",
                                                                         "Addr"};
// True for one of those names, without regard to case.
[[nodiscard]] bool IsNetworkSettingName(std::string_view name);

// The program port node's own parameter: the computer's port.
inline constexpr std::string_view kPortParameterName = "Port";

// The parity texts of "PrtY" and the parity codes of the serial port and the stored settings.
inline constexpr std::string_view kParityNoneText = "Отсутствует";
inline constexpr std::string_view kParityEvenText = "Четность";
inline constexpr std::string_view kParityOddText = "Нечетность";
inline constexpr std::string_view kParityInvalidText = "<неверное значние>";
// "Отсутствует" 3, "Четность" 1, "Нечетность" 4 (case of Latin letters aside); 0 for any other.
[[nodiscard]] int ParityCodeOfText(std::string_view text);
// 1, 3, 4 as above; any other code "<неверное значние>".
[[nodiscard]] std::string_view ParityTextOfCode(int code);

// The message and caption of a refused edit of the module's network settings.
inline constexpr std::string_view kNetworkCombinationRefusedText =
    trMark("Запрещенные комбинации сетевых параметров:\n"
           "1) Нельзя чтобы адрес был >255 если длина адреса 8 бит;\n"
           "2) Нельзя чтобы была установлена четность (Четность или Нечетность) и размер данных был 8 бит\n"
           "и количество стоп-бит было равно 2!\n"
           "3) При работе прибора на протоколах, отличных от \"ДОРВ\", адрес не должен быть больше 255.");
inline constexpr std::string_view kNetworkCombinationRefusedCaption = trMark("Неудалось изменить значение");

// An address, address-length or protocol change: an address above 255 needs 11-bit addressing
// and the device protocol ("Prot" at its first choice).
[[nodiscard]] bool CheckNetworkValue(const ObjectWithParameters& node, std::string_view name,
                                     std::string_view proposed);
// A parity, data-bits or stop-bits change: parity with 8 data bits and 2 stop bits would make a
// 12-bit character, which the module cannot send.
[[nodiscard]] bool CheckFrameFormat(const ObjectWithParameters& node, std::string_view name,
                                    std::string_view proposed);
// Both checks; a refusal is shown through `ui` when given (error icon). The program's own port
// node is never checked.
[[nodiscard]] bool CheckNetworkEdit(const ObjectWithParameters& node, std::string_view name,
                                    std::string_view proposed, UserInterface* ui);

// The value rules of a parameter, with one addition for the program's "Port": besides the ports
// of its list it takes a network gateway's port name typed in (network_port_name.h).
[[nodiscard]] ValueCheck CheckValueText(const Parameter& parameter, std::string_view text);

// Copies the six settings from the module's node into the program's, skipping values that are
// not known ("Нет данных").
void CopyNetworkSettings(const ObjectWithParameters& from, ObjectWithParameters& to);

// Puts stored settings into the program's port node.
void LoadProgramPortNode(NetRS485prg& node, const StoredPortSettings& stored);
// The node's values as settings to store, starting from `base` (what is stored now): numbers
// from the numeric value of each text, parity from its text, the port by the port-name rule of
// the settings. A text that does not read as a number, or a parity text that is none of the
// three, leaves the stored value as it was.
[[nodiscard]] StoredPortSettings ProgramPortSettings(const NetRS485prg& node, StoredPortSettings base);

// Loads the node from `store` and makes the node save its values there when it is destroyed.
// `store` must outlive the node.
void BindProgramPortNode(NetRS485prg& node, PortSettingsStorage& store);

}  // namespace kvtr
