// A titled node of the parameter tree: the walks log the title, and the node has its own row in
// the tree view.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "model/object_with_parameters.h"

namespace kvtr {

// Four counters of a node, all zero.
struct ZeroTotals {
  std::array<std::uint32_t, 4> counters{};
};

// The texts and images of a node's own row in the tree view.
struct NodeRow {
  std::string title;      // tree column
  std::string indexText;  // second column: "(n)" of the linear index, or empty
  int image = 0;
  int selectedImage = 0;
};

class InvisibleElement : public ObjectWithParameters {
 public:
  InvisibleElement() = default;
  explicit InvisibleElement(std::string titleText) : title(std::move(titleText)) {}

  [[nodiscard]] const char* GetRuntimeClassName() const override { return "InvisibleElement"; }
  [[nodiscard]] NodeKind GetNodeKind() const override { return NodeKind::InvisibleElement; }

  // The name "Название" sets the title.
  SetValueResult SetValueByName(std::string_view name, std::string_view text) override;

  // The walks log their header with the title first ("Читаем ветвь 'title'", ...).
  WalkCounts CompareWithDevice(ParameterSteps& steps) override;
  WalkCounts ReadFromDevice(ParameterSteps& steps) override;
  WalkCounts WriteToDevice(ParameterSteps& steps, int mode) override;

  [[nodiscard]] virtual ZeroTotals GetZeroTotals() const { return {}; }
  [[nodiscard]] virtual int GetImage() const { return 0; }
  [[nodiscard]] virtual int GetSelectedImage() const { return 0; }
  [[nodiscard]] virtual std::string GetKindName() const { return "Невизуальный элемент"; }
  [[nodiscard]] virtual int GetOrdinal() const { return -999; }
  [[nodiscard]] virtual std::string GetSchemeGroup() const { return "Не относящиеся ко схеме"; }
  // title + " (" + kind name + ")"
  [[nodiscard]] virtual std::string GetFullTitle() const;

  [[nodiscard]] NodeRow GetViewRow(bool showIndexes, UserInterface& ui);

  std::string title;
};

}  // namespace kvtr
