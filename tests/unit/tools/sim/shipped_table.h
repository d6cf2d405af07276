// The simulated module's parameter table built from the descriptor text shipped in data/, through
// the program's own loader: the tests of the module then see exactly what the program sees.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "common/user_interface.h"
#include "model/descriptor_loader.h"
#include "model/parameter_tree.h"
#include "sim/parameter_table.h"

namespace kvtr::sim::test {

inline ParameterTable ShippedTable() {
  std::ifstream file(std::string(KVTR_SOURCE_DIR) + "/data/kvtr.tree.txt");
  std::stringstream text;
  text << file.rdbuf();
  ParameterTree tree;
  SilentUserInterface ui;
  (void)LoadDescriptorText(tree, text.str(), ui);
  return ParameterTable::FromTree(tree.root(), tree.scanners());
}

}  // namespace kvtr::sim::test
