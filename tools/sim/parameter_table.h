// What the simulated module knows of its parameters: one entry per name, with the type, limits,
// attribute flag, factory value and the indexes at which the parameter exists. The table is built
// from the expanded parameter tree of the descriptor, so the module knows exactly the parameters
// the program shows.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "model/my_converter.h"

namespace kvtr {
class DescBranch;
}

namespace kvtr::sim {

struct SimParameter {
  std::string name;  // as the descriptor spells it, without a leading "!"
  std::uint16_t hash = 0;
  std::string type;  // type text, e.g. "int", "float", "Нет:Да"
  ValueKind kind = ValueKind::Enumeration;
  double minimum = 0.0;
  double maximum = 0.0;
  bool hasAttributes = false;
  std::string initText;      // the factory value ("init"); empty when the descriptor gives none
  bool indexed = false;      // addressed with an index
  std::vector<int> indexes;  // ascending; {0} for a parameter without index

  [[nodiscard]] bool hasLimits() const { return minimum != 0.0 || maximum != 0.0; }
  [[nodiscard]] bool hasIndex(int index) const;
  // The module's index limiter: one past the largest index.
  [[nodiscard]] int indexLimit() const { return indexes.empty() ? 0 : indexes.back() + 1; }
};

class ParameterTable {
 public:
  // Every parameter under the expanded root and scanners branches (either may be none). A name
  // met again adds its index; `warnings` collects names whose hash another name already has.
  static ParameterTable FromTree(const DescBranch* root, const DescBranch* scanners,
                                 std::vector<std::string>* warnings = nullptr);

  // Adds a parameter, or merges its indexes into the entry of the same hash. Returns false (and
  // adds nothing) when another name already has that hash.
  bool Add(SimParameter parameter);

  [[nodiscard]] const SimParameter* Find(std::uint16_t hash) const;
  [[nodiscard]] const SimParameter* FindByName(std::string_view name) const;
  [[nodiscard]] const std::vector<SimParameter>& all() const { return parameters_; }
  [[nodiscard]] std::size_t size() const { return parameters_.size(); }

 private:
  std::vector<SimParameter> parameters_;
  std::map<std::uint16_t, std::size_t> byHash_;
};

}  // namespace kvtr::sim
