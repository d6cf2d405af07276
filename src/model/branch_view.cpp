#include "model/branch_view.h"

#include "common/strings.h"

namespace kvtr {

namespace {

TreeViewRow parameterRow(Parameter& p, bool showIndexes, int depth, DescBranch& holder) {
  TreeViewRow row;
  row.kind = TreeRowKind::Parameter;
  row.depth = depth;
  row.branch = &holder;
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

namespace {

// The rows below `branch` at `depth` + 1; a child branch of its own is handed to `childBranch`.
template <typename ChildBranch>
void walkBranchChildren(DescBranch& branch, bool showIndexes, int depth, std::vector<TreeViewRow>& rows,
                        ChildBranch childBranch) {
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
        rows.push_back(parameterRow(*child.parameters().front(), showIndexes, depth + 1, child));
      } else {
        childBranch(child);
      }
    } else {
      if (nextParameter >= params.size()) continue;
      rows.push_back(parameterRow(*params[nextParameter++], showIndexes, depth + 1, branch));
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

TreeViewRow branchRow(DescBranch& branch, bool showIndexes, UserInterface& ui, int depth) {
  TreeViewRow own;
  own.kind = TreeRowKind::Branch;
  own.depth = depth;
  own.branch = &branch;
  own.node = branch.GetViewRow(showIndexes, ui);
  return own;
}

}  // namespace

void InsertBranchIntoView(DescBranch& branch, bool showIndexes, UserInterface& ui, int depth,
                          std::vector<TreeViewRow>& rows) {
  rows.push_back(branchRow(branch, showIndexes, ui, depth));
  walkBranchChildren(branch, showIndexes, depth, rows,
                     [&](DescBranch& child) { InsertBranchIntoView(child, showIndexes, ui, depth + 1, rows); });
}

std::vector<TreeViewRow> BranchViewChildren(DescBranch& branch, bool showIndexes, UserInterface& ui) {
  std::vector<TreeViewRow> rows;
  walkBranchChildren(branch, showIndexes, 0, rows,
                     [&](DescBranch& child) { rows.push_back(branchRow(child, showIndexes, ui, 1)); });
  return rows;
}

}  // namespace kvtr
