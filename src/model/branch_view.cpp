#include "model/branch_view.h"

#include "common/strings.h"

namespace kvtr {

namespace {

TreeViewRow parameterRow(Parameter& p, bool showIndexes, int depth) {
  TreeViewRow row;
  row.kind = TreeRowKind::Parameter;
  row.depth = depth;
  row.parameter = &p;
  row.cells = p.GetViewRow(showIndexes);
  return row;
}

bool isSingleParameterBranch(const DescBranch& b) { return b.children.empty() && b.ParameterCount() == 1; }

}  // namespace

std::vector<TreeViewRow> InsertBranchIntoView(DescBranch& branch, bool showIndexes, UserInterface& ui) {
  std::vector<TreeViewRow> rows;
  InsertBranchIntoView(branch, showIndexes, ui, 0, rows);
  return rows;
}

void InsertBranchIntoView(DescBranch& branch, bool showIndexes, UserInterface& ui, int depth,
                          std::vector<TreeViewRow>& rows) {
  TreeViewRow own;
  own.kind = TreeRowKind::Branch;
  own.depth = depth;
  own.branch = &branch;
  own.node = branch.GetViewRow(showIndexes, ui);
  rows.push_back(std::move(own));

  // The order list interleaves parameters and child branches as the descriptor declared them. A
  // template that could not become a parameter leaves the list longer than the array, so both
  // walks stop at the end of what exists.
  const auto& params = branch.parameters();
  std::size_t nextParameter = 0;
  std::size_t nextChild = 0;
  for (const std::uint8_t entry : branch.order) {
    if (entry == DescBranch::kOrderBranch) {
      if (nextChild >= branch.children.size()) continue;
      DescBranch& child = *branch.children[nextChild++];
      if (isSingleParameterBranch(child)) {
        rows.push_back(parameterRow(*child.parameters().front(), showIndexes, depth + 1));
      } else {
        InsertBranchIntoView(child, showIndexes, ui, depth + 1, rows);
      }
    } else {
      if (nextParameter >= params.size()) continue;
      rows.push_back(parameterRow(*params[nextParameter++], showIndexes, depth + 1));
    }
  }

  if (startsWithNoCase(branch.title, "БУИМ") && branch.instanceNumber > 8) {
    TreeViewRow extra;
    extra.kind = TreeRowKind::Extra;
    extra.depth = depth + 1;
    extra.cells.description = kActuatorTypeText;
    extra.cells.value = kActuatorTypeValue;
    extra.cells.image = 0;
    rows.push_back(std::move(extra));
  }
}

}  // namespace kvtr
