// A branch declared in the descriptor. Before expansion it holds parameter templates and child
// branches; expansion turns the templates into parameters. Child branches are owned: a branch
// and everything under it goes with its parent.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/invisible_element.h"
#include "model/param_template.h"

namespace kvtr {

class DescBranch : public InvisibleElement {
 public:
  // Entries of the order list: what the next declared child of the branch is.
  static constexpr std::uint8_t kOrderParameter = 0;
  static constexpr std::uint8_t kOrderBranch = 1;

  DescBranch() = default;
  DescBranch(std::string titleText, int count, int number, int first, int second);

  [[nodiscard]] const char* GetRuntimeClassName() const override { return "DescBranch"; }
  [[nodiscard]] NodeKind GetNodeKind() const override { return NodeKind::DescBranch; }

  // Appends a template (order entry 0) or a child branch (order entry 1).
  void AddTemplate(ParamTemplate parameterTemplate);
  DescBranch& AddChild(std::unique_ptr<DescBranch> child);

  // A copy of the branch and everything under it: templates, parameters, children and lists.
  // View rows and polling are not copied. When `tracked` lies in this branch's subtree (or is the
  // branch itself), `trackedCopy` receives its copy.
  [[nodiscard]] std::unique_ptr<DescBranch> DeepCopy(const DescBranch* tracked = nullptr,
                                                     DescBranch** trackedCopy = nullptr) const;

  // Calls `visit` on this branch and then on every branch below it, depth first in list order.
  void ForEachBranch(const std::function<void(DescBranch&)>& visit);

  // A branch keeps its parameters: they come from its templates, not from a rebuild.
  void RebuildParameters() override {}
  void ResetValues() override;
  WalkCounts CompareWithDevice(ParameterSteps& steps) override;
  WalkCounts ReadFromDevice(ParameterSteps& steps) override;
  WalkCounts WriteToDevice(ParameterSteps& steps, int mode) override;

  // The images of the branch's row are the two numbers of its declaration.
  [[nodiscard]] int GetImage() const override { return firstNumber; }
  [[nodiscard]] int GetSelectedImage() const override { return secondNumber; }

  int instanceCount = 1;   // instances declared together
  int instanceNumber = 1;  // this instance, from 1
  int firstNumber = 0;     // image of the row
  int secondNumber = 0;    // image of the selected row
  std::vector<ParamTemplate> templates;
  std::vector<std::unique_ptr<DescBranch>> children;
  std::vector<std::uint8_t> order;  // kOrderParameter / kOrderBranch per declared child
};

}  // namespace kvtr
