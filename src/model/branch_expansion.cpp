#include "model/branch_expansion.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <string_view>

#include "common/format.h"
#include "common/strings.h"
#include "common/user_interface.h"
#include "model/parameter_tree.h"

namespace kvtr {

namespace {

// Positions and indexes are ints; a pathological descriptor (counts in the millions, "*9" at
// every level) must not overflow them, so the arithmetic saturates.
int clampToInt(std::int64_t v) {
  if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

int saturatingMul(int a, int b) {
  const std::int64_t r = static_cast<std::int64_t>(a) * static_cast<std::int64_t>(b);
  return clampToInt(r);
}

int saturatingAdd(int a, int b) { return clampToInt(static_cast<std::int64_t>(a) + static_cast<std::int64_t>(b)); }

// Start of the last UTF-8 character of a non-empty text. A stray continuation byte counts as a
// character of its own once three of them have been passed.
std::size_t lastCharStart(std::string_view text) {
  std::size_t i = text.size() - 1;
  for (int steps = 0; steps < 3 && i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; ++steps) --i;
  return i;
}

// A title suffix "<mark>N": the character before the last is `mark`, and the last one is read as
// a number (a digit, or 0 for anything else, as a lenient number reading gives). On a match the
// two characters are removed.
bool takeSuffix(std::string& title, char mark, int& number) {
  if (title.empty()) return false;
  const std::size_t last = lastCharStart(title);
  if (last == 0 || title[last - 1] != mark) return false;
  const std::string_view digit = std::string_view(title).substr(last);
  number = (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') ? digit[0] - '0' : 0;
  title.erase(last - 1);
  return true;
}

// "int:2", "CLK_frm:1", "float:3": the precision digit after one of the numeric type words.
bool splitPrecision(std::string_view type, std::string& bareWord, std::uint32_t& precision) {
  const std::size_t colon = type.find(':');
  if (colon == std::string_view::npos || colon + 2 != type.size()) return false;
  const char digit = type[colon + 1];
  if (digit < '1' || digit > '3') return false;
  const std::string_view word = type.substr(0, colon);
  if (!equalsNoCase(word, "int") && !equalsNoCase(word, "CLK_frm") && !equalsNoCase(word, "float")) return false;
  bareWord = std::string(word);
  precision = static_cast<std::uint32_t>(digit - '0');
  return true;
}

std::unique_ptr<Parameter> makeDefaultParameter() { return std::make_unique<Parameter>(); }

// The title of the extra output elements of a module family whose numbering continues after the
// first eight.
constexpr std::string_view kExtraElementTitle = "Состояние_дополнительного_ВЭ";

}  // namespace

int Expand(DescBranch& branch, ExpansionContext& context, bool indexed, int parentPosition) {
  // 1. Position among all instances at this level.
  int position = saturatingAdd(saturatingMul(branch.instanceCount, parentPosition), branch.instanceNumber - 1);

  // 2. Title suffixes: "*N" scales the position, then "+N" shifts it (and the number shown).
  std::string title = branch.title;
  int n = 0;
  if (takeSuffix(title, '*', n)) position = saturatingMul(position, n);
  if (takeSuffix(title, '+', n)) {
    position = saturatingAdd(position, n);
    if (title != "K20") branch.instanceNumber = saturatingAdd(branch.instanceNumber, n);
  }

  // 3. Numbering of a branch declared with several instances.
  if (branch.instanceCount > 1) {
    if (title.find('#') == std::string::npos) {
      if (title == kExtraElementTitle) branch.instanceNumber = saturatingAdd(branch.instanceNumber, 8);
      title += '#';
    }
    title = replaceAll(title, "#", strprintf(" №%d", branch.instanceNumber));
  }

  // 4. Children first: the widest of them decides the index step of this branch's parameters.
  const bool childIndexed = indexed || branch.instanceCount > 1;
  int span = 1;
  for (const auto& child : branch.children) span = std::max(span, Expand(*child, context, childIndexed, position));

  // 5.
  branch.title = replaceAll(title, '_', ' ');

  // 6. One parameter per template.
  for (const ParamTemplate& t : branch.templates) {
    try {
      std::unique_ptr<Parameter> p = context.makeParameter ? context.makeParameter() : makeDefaultParameter();
      if (!t.name.empty() && t.name.front() == '!') {
        p->name = t.name.substr(1);
        p->exchangeable = 0;
      } else {
        p->name = t.name;
        p->exchangeable = 1;
      }
      p->description = replaceAll(t.description, '_', ' ');
      if (!splitPrecision(t.type, p->type, p->precision)) p->type = t.type;
      p->minimum = t.minimum;
      p->maximum = t.maximum;
      p->attributeMode = t.hasAttributes;
      p->pendingText = t.pendingText;
      p->attributeMark = t.attributeMark;
      if (childIndexed) {
        p->hasIndex = 1;
        p->index = saturatingMul(span, position);
      } else {
        p->hasIndex = 0;
      }
      Parameter& added = branch.AddParameter(std::move(p));
      if (context.tree != nullptr && equalsNoCase(added.name, "POUt")) context.tree->EnterOutput(added, added.index);
    } catch (const std::bad_alloc&) {
      if (context.ui != nullptr) context.ui->showMessage("Серьезная нехватка памяти", "Ошибка", MessageIcon::Stop);
    }
  }

  // 7. A branch that is one parameter lends it its title.
  if (branch.children.empty() && branch.ParameterCount() == 1) branch.parameters().front()->description = branch.title;

  // 8.
  return saturatingMul(branch.instanceCount, span);
}

}  // namespace kvtr
