// The parameter tree of one configuration: the root branch, the scanners branch, the reference to
// the module's network-settings branch, the parameter templates of the descriptor and the output
// table. The descriptor loader builds it; the configuration archive, the exchange engine, the
// views and the command-line tool work on it. It knows nothing of the line.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "model/common_params.h"
#include "model/desc_branch.h"
#include "model/param_template.h"
#include "model/parameter.h"

namespace kvtr {

// The descriptor selector kept in configuration files: 3 selects the descriptor stream of the
// КВТР module; any other value selects none, and the tree stays empty.
inline constexpr std::uint32_t kDescriptorSelectorKvtr = 3;
// What a configuration file of the oldest layout leaves behind: a document without a tree.
inline constexpr std::uint32_t kDescriptorSelectorNone = 19;

class ParameterTree {
 public:
  ParameterTree();
  ~ParameterTree();
  // Parameters and branches are referred to by address from the views, the polling and the
  // output table: the tree is neither copied nor moved.
  ParameterTree(const ParameterTree&) = delete;
  ParameterTree& operator=(const ParameterTree&) = delete;

  // Drops the branches, the templates and the output table; the selector stays.
  void Clear();

  // The root of the tree, or none when no descriptor is loaded.
  [[nodiscard]] DescBranch* root() const { return root_.get(); }
  [[nodiscard]] bool hasTree() const { return root_ != nullptr; }
  // The branch of the polled parameters, or none.
  [[nodiscard]] DescBranch* scanners() const { return scanners_.get(); }
  // The module's network settings ("Сетевые_параметры"): a branch inside the root or the
  // scanners branch, or none. The network-settings rules work on it as on any node with
  // parameters.
  [[nodiscard]] DescBranch* networkSettings() const { return network_; }
  // True for the node that holds the module's network settings (not the program's own).
  [[nodiscard]] bool IsNetworkSettingsNode(const ObjectWithParameters* node) const {
    return node != nullptr && node == network_;
  }

  // The templates of the descriptor, in file order; the single-parameter dialog offers them.
  [[nodiscard]] const std::vector<ParamTemplate>& templates() const { return templates_; }
  // The first template whose name matches without regard to case, or none.
  [[nodiscard]] const ParamTemplate* FindTemplate(std::string_view name) const;

  // The output table: the "POUt" parameter of each output, by its index.
  [[nodiscard]] Parameter* OutputParameter(int index) const;
  [[nodiscard]] const std::map<int, Parameter*>& outputTable() const { return outputTable_; }
  // Enters a parameter at that position; one entered there before leaves the table.
  void EnterOutput(Parameter& parameter, int index);

  // The loader hands the branches over before it expands them, so that the output table fills
  // as the parameters are created.
  void SetRoot(std::unique_ptr<DescBranch> branch) { root_ = std::move(branch); }
  void SetScanners(std::unique_ptr<DescBranch> branch) { scanners_ = std::move(branch); }
  void SetTemplates(std::vector<ParamTemplate> list) { templates_ = std::move(list); }
  // Sets the network reference when the node lies inside the root or the scanners branch;
  // otherwise clears it. Returns whether it was kept.
  bool SetNetworkSettings(DescBranch* node);

  // Every parameter under a branch, the branch's own first, then its children in list order.
  static void ForEachParameter(DescBranch& branch, const std::function<void(Parameter&)>& visit);
  // Number of branches (the branch itself included) and parameters under a branch.
  struct Counts {
    std::size_t branches = 0;
    std::size_t parameters = 0;
  };
  [[nodiscard]] static Counts CountNodes(const DescBranch& branch);
  // True when `node` is `branch` or lies below it.
  [[nodiscard]] static bool Contains(const DescBranch& branch, const DescBranch* node);

  std::uint32_t descriptorSelector = kDescriptorSelectorKvtr;
  // The program's own service node ("Сервисные параметры программы"); it does not come from the
  // descriptor and stays when the tree is cleared.
  CommonParams commonParams;

 private:
  // Declared first so that it is destroyed last: a parameter clears its entry when it goes.
  std::map<int, Parameter*> outputTable_;
  std::vector<ParamTemplate> templates_;
  std::unique_ptr<DescBranch> root_;
  std::unique_ptr<DescBranch> scanners_;
  DescBranch* network_ = nullptr;
};

}  // namespace kvtr
