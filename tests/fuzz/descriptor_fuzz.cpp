// Arbitrary bytes as a descriptor text: every statement, the branch copies, the expansion and the
// view rows of whatever tree comes out. The node limit is lower than the program's so that a
// doubling descriptor is stopped quickly; the limit itself is what is being exercised.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/user_interface.h"
#include "model/branch_view.h"
#include "model/descriptor_loader.h"
#include "model/parameter_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  kvtr::SilentUserInterface ui;
  kvtr::ParameterTree tree;
  kvtr::DescriptorLoadOptions options;
  options.maxNodes = 50'000;
  options.maxDepth = 32;
  (void)kvtr::LoadDescriptorText(tree, text, ui, options);
  if (tree.root() != nullptr) (void)kvtr::InsertBranchIntoView(*tree.root(), true, ui);
  if (tree.scanners() != nullptr) (void)kvtr::InsertBranchIntoView(*tree.scanners(), false, ui);
  return 0;
}
