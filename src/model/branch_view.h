// The rows a branch shows in the tree view, as plain data: the desktop program's tree model and
// the command-line tool's tree listing are both built from them.
#pragma once

#include <string>
#include <vector>

#include "model/desc_branch.h"
#include "model/invisible_element.h"
#include "model/parameter.h"

namespace kvtr {

class UserInterface;

enum class TreeRowKind {
  Branch,     // a branch: `node` holds its texts and images
  Parameter,  // a parameter: `cells` holds its columns
  Extra,      // a row of text only, belonging to no parameter
};

struct TreeViewRow {
  TreeRowKind kind = TreeRowKind::Branch;
  int depth = 0;                    // 0 for the branch the listing started from
  DescBranch* branch = nullptr;     // Branch rows: the branch; Parameter rows: the branch holding it
  Parameter* parameter = nullptr;   // Parameter rows
  NodeRow node;                     // Branch rows: title, "(n)" of the linear index, images
  ParameterRow cells;               // Parameter and Extra rows
};

// The row of the branch and then, in declaration order, its parameters and child branches. A child
// branch without children of its own and with exactly one parameter shows as that parameter's
// row. `showIndexes` adds the linear index to branch rows and ":index" to parameter names; an
// inconsistent linear index is reported through `ui`.
[[nodiscard]] std::vector<TreeViewRow> InsertBranchIntoView(DescBranch& branch, bool showIndexes, UserInterface& ui);
void InsertBranchIntoView(DescBranch& branch, bool showIndexes, UserInterface& ui, int depth,
                          std::vector<TreeViewRow>& rows);

// The rows directly below a branch (depth 1), without the branch's own row and without going
// further down: a view that creates rows only as branches are opened asks for one level at a time.
[[nodiscard]] std::vector<TreeViewRow> BranchViewChildren(DescBranch& branch, bool showIndexes, UserInterface& ui);

// The texts of the extra row that a "БУИМ" branch past the eighth shows.
inline constexpr const char* kActuatorTypeText = "Тип исполнительного механизма";
inline constexpr const char* kActuatorTypeValue = "2 позиционный ИМ";

}  // namespace kvtr
