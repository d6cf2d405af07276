#include "protocol/network_settings.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/catalogue.h"
#include "common/strings.h"
#include "common/user_interface.h"
#include "model/my_converter.h"
#include "model/parameter.h"
#include "protocol/network_port_name.h"

namespace kvtr {

namespace {

// The numeric value of a setting's text, read as the program always read it: leading digits of
// a decimal number, 0 when there are none.
long numericValue(std::string_view text) {
  const DecimalReading r = ReadDecimal(text, false);
  if (!r.ok || !std::isfinite(r.value)) return 0;
  return static_cast<long>(std::clamp(r.value, -2147483648.0, 2147483647.0));
}

// Whether a "Prot" text names a protocol other than the device protocol: its write encoding
// (the position in the protocol list) has a non-zero first byte.
bool isForeignProtocol(const Parameter& prot, std::string_view text) {
  MyConverter converter(prot.name);
  converter.type = prot.type;
  std::string scratch(text);
  DataField data;
  return converter.ConvertToData(scratch, data) == 1 && data.length > 0 && data.bytes[0] != 0;
}

std::string valueOf(const ObjectWithParameters& node, std::string_view name) {
  const Parameter* p = node.FindParameter(name);
  return p != nullptr ? p->value : std::string();
}

}  // namespace

bool IsNetworkSettingName(std::string_view name) {
  return std::any_of(kNetworkSettingNames.begin(), kNetworkSettingNames.end(),
                     [&](std::string_view n) { return equalsNoCase(n, name); });
}

int ParityCodeOfText(std::string_view text) {
  if (equalsNoCase(text, kParityNoneText)) return 3;
  if (equalsNoCase(text, kParityEvenText)) return 1;
  if (equalsNoCase(text, kParityOddText)) return 4;
  return 0;
}

std::string_view ParityTextOfCode(int code) {
  switch (code) {
    case 1: return kParityEvenText;
    case 3: return kParityNoneText;
    case 4: return kParityOddText;
    default: return kParityInvalidText;
  }
}

bool CheckNetworkValue(const ObjectWithParameters& node, std::string_view name, std::string_view proposed) {
  const Parameter* prot = node.FindParameter("Prot");
  if (equalsNoCase(name, "Addr")) {
    if (numericValue(proposed) <= 255) return true;
    if (valueOf(node, "A.Len") != "11") return false;
    return prot == nullptr || !isForeignProtocol(*prot, prot->value);
  }
  if (equalsNoCase(name, "A.Len")) {
    return proposed == "11" || numericValue(valueOf(node, "Addr")) < 256;
  }
  if (equalsNoCase(name, "Prot")) {
    if (prot == nullptr) return true;
    return !(isForeignProtocol(*prot, proposed) && numericValue(valueOf(node, "Addr")) > 255);
  }
  return true;
}

bool CheckFrameFormat(const ObjectWithParameters& node, std::string_view name, std::string_view proposed) {
  if (!equalsNoCase(name, "PrtY") && !equalsNoCase(name, "LEn") && !equalsNoCase(name, "Sbit")) return true;
  const std::string parity = equalsNoCase(name, "PrtY") ? std::string(proposed) : valueOf(node, "PrtY");
  const std::string dataBits = equalsNoCase(name, "LEn") ? std::string(proposed) : valueOf(node, "LEn");
  const std::string stopBits = equalsNoCase(name, "Sbit") ? std::string(proposed) : valueOf(node, "Sbit");
  const bool withParity = equalsNoCase(parity, kParityEvenText) || equalsNoCase(parity, kParityOddText);
  return !(withParity && numericValue(dataBits) == 8 && numericValue(stopBits) == 2);
}

bool CheckNetworkEdit(const ObjectWithParameters& node, std::string_view name, std::string_view proposed,
                      UserInterface* ui) {
  if (node.GetNodeKind() == NodeKind::NetRS485prg) return true;
  if (CheckNetworkValue(node, name, proposed) && CheckFrameFormat(node, name, proposed)) return true;
  if (ui != nullptr) {
    ui->showMessage(tr(kNetworkCombinationRefusedText.data()), tr(kNetworkCombinationRefusedCaption.data()),
                    MessageIcon::Stop);
  }
  return false;
}

ValueCheck CheckValueText(const Parameter& parameter, std::string_view text) {
  if (equalsNoCase(parameter.name, kPortParameterName) && isNetworkPortName(trim(text))) {
    ValueCheck check;
    check.accepted = true;
    check.stored = std::string(trim(text));
    return check;
  }
  return parameter.CheckText(text);
}

void CopyNetworkSettings(const ObjectWithParameters& from, ObjectWithParameters& to) {
  for (std::string_view name : kNetworkSettingNames) {
    const Parameter* source = from.FindParameter(name);
    if (source == nullptr || source->value == kNoDataText) continue;
    to.SetValueByName(name, source->value);
  }
}

void LoadProgramPortNode(NetRS485prg& node, const StoredPortSettings& stored) {
  auto set = [&](std::string_view name, std::string text) {
    if (Parameter* p = node.FindParameter(name)) p->value = std::move(text);
  };
  set("Addr", std::to_string(stored.address));
  set("A.Len", std::to_string(stored.addressLength));
  set("bPS", std::to_string(stored.baudRate));
  set("LEn", std::to_string(stored.byteSize));
  set("Sbit", std::to_string(stored.stopBits));
  set("PrtY", std::string(ParityTextOfCode(static_cast<int>(stored.parityScheme))));
  set(kPortParameterName, stored.port());
}

StoredPortSettings ProgramPortSettings(const NetRS485prg& node, StoredPortSettings base) {
  auto take = [&](std::string_view name, std::uint32_t& field) {
    const Parameter* p = node.FindParameter(name);
    if (p == nullptr) return;
    const DecimalReading r = ReadDecimal(p->value, false);
    // A text without a number would store 0 (no speed, no data bits): keep the stored value.
    if (!r.ok || !std::isfinite(r.value) || r.value < 0 || r.value > 4294967295.0) return;
    field = static_cast<std::uint32_t>(r.value);
  };
  take("Addr", base.address);
  take("A.Len", base.addressLength);
  take("bPS", base.baudRate);
  take("LEn", base.byteSize);
  take("Sbit", base.stopBits);
  if (const Parameter* p = node.FindParameter("PrtY")) {
    if (const int code = ParityCodeOfText(p->value); code != 0) base.parityScheme = static_cast<std::uint32_t>(code);
  }
  if (const Parameter* p = node.FindParameter(kPortParameterName); p != nullptr && !trim(p->value).empty()) {
    base.setPort(trim(p->value));
  }
  return base;
}

void BindProgramPortNode(NetRS485prg& node, PortSettingsStorage& store) {
  LoadProgramPortNode(node, store.LoadPortSettings());
  node.onDestroy = [&store](const NetRS485prg& n) {
    (void)store.SavePortSettings(ProgramPortSettings(n, store.LoadPortSettings()));
  };
}

}  // namespace kvtr
