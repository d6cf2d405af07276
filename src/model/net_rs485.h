// The network settings of the module (NetRS485) and the program's own port settings
// (NetRS485prg): six settings as enumerations and an integer, plus the computer's port for the
// program's node.
#pragma once

#include <functional>
#include <string>

#include "model/invisible_element.h"

namespace kvtr {

class NetRS485 : public InvisibleElement {
 public:
  NetRS485();

  [[nodiscard]] const char* GetRuntimeClassName() const override { return "NetRS485"; }
  [[nodiscard]] NodeKind GetNodeKind() const override { return NodeKind::NetRS485; }
  [[nodiscard]] std::string GetKindName() const override { return "Сеть RS-485"; }

  // "bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr", in this order.
  void RebuildParameters() override;

 protected:
  explicit NetRS485(std::string titleText);
  void AddNetworkSettings();
};

class NetRS485prg : public NetRS485 {
 public:
  NetRS485prg();
  // Runs `onDestroy`: the program keeps its port settings from one run to the next.
  ~NetRS485prg() override;

  [[nodiscard]] const char* GetRuntimeClassName() const override { return "NetRS485prg"; }
  [[nodiscard]] NodeKind GetNodeKind() const override { return NodeKind::NetRS485prg; }

  // The six settings with the program's defaults, then "Port" with `portChoices` as its list.
  void RebuildParameters() override;

  // The computer's serial ports joined with ":", the choices of "Port".
  std::string portChoices;
  // Called once, with the node's last values, when the node is destroyed; whoever loaded the
  // node's values from the stored settings writes them back here.
  std::function<void(const NetRS485prg&)> onDestroy;
};

}  // namespace kvtr
