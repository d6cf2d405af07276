// Branch expansion: turns the templates of a declared branch, and of every branch below it, into
// the parameters of the tree, with their titles numbered and their indexes computed.
//
// The position of an instance among its siblings is p = count x (parent's position) + number - 1.
// A parameter of an indexed branch gets the index m x p, where m is the largest number of
// indexes that one instance's child branches span (at least 1). So a branch of count 4 holding a
// branch of count 2 gives its own parameters 0, 2, 4, 6 and the inner ones 0..7.
#pragma once

#include <functional>
#include <memory>

#include "model/desc_branch.h"
#include "model/parameter.h"

namespace kvtr {

class ParameterTree;
class UserInterface;

struct ExpansionContext {
  // Receives the "POUt" parameters into its output table; none leaves them out of any table.
  ParameterTree* tree = nullptr;
  UserInterface* ui = nullptr;
  // Creates each parameter; tests replace it to run out of memory on purpose.
  std::function<std::unique_ptr<Parameter>()> makeParameter;
};

// Expands `branch` and everything below it. `indexed` is set below a branch of several
// instances; `parentPosition` is the parent's p (0 for the root and the scanners branch).
// Returns count x m: the number of indexes the branch's instances span.
int Expand(DescBranch& branch, ExpansionContext& context, bool indexed, int parentPosition);

}  // namespace kvtr
