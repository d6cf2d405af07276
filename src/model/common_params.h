// The service node of the program: its version, legal notice and the system it runs on, shown
// as three parameters beside the module's tree.
#pragma once

#include <string>

#include "model/invisible_element.h"

namespace kvtr {

class CommonParams : public InvisibleElement {
 public:
  CommonParams();

  [[nodiscard]] const char* GetRuntimeClassName() const override { return "CommonParams"; }
  [[nodiscard]] NodeKind GetNodeKind() const override { return NodeKind::CommonParams; }
  [[nodiscard]] int GetImage() const override { return kImage; }
  [[nodiscard]] int GetSelectedImage() const override { return kImage; }
  [[nodiscard]] std::string GetKindName() const override { return "Сервисные параметры программы"; }

  // Three parameters named " ", "  " and "   ": "Версия", "Копирайт", "Операционная система".
  void RebuildParameters() override;

  // The program's name and version, e.g. "Конфигуратор КВТР 1.0.0".
  [[nodiscard]] static std::string VersionText();
  [[nodiscard]] static std::string LegalNotice();

  static constexpr int kImage = 20;
};

}  // namespace kvtr
