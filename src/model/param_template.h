// A parameter as the descriptor declares it: the pattern from which every instance of a branch
// creates its own Parameter when the tree is expanded.
#pragma once

#include <cstdint>
#include <string>

namespace kvtr {

struct ParamTemplate {
  std::string name;         // may start with "!" (the parameter then takes no part in exchanges)
  std::string type;         // the type text, after named types were substituted
  std::string description;  // "_" still stands for a blank here
  double minimum = 0.0;
  double maximum = 0.0;
  std::uint8_t hasAttributes = 1;  // 0 with "noattr"
  std::string pendingText;         // initial value ("init"), "_" already turned into blanks
  int attributeTable = 0;          // "table1".."table5" as 1..5, any other word 0
  int indexMultiplicity = 0;
  int attributeMark = 0;  // 0 none, 1 "+", 2 "*"
  std::uint8_t inUse = 1;  // always 1; kept with the record so that its layout stays whole
};

}  // namespace kvtr
