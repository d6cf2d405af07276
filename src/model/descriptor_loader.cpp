#include "model/descriptor_loader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

#include "common/catalogue.h"
#include "common/program_directory.h"
#include "common/format.h"
#include "common/strings.h"
#include "common/user_interface.h"
#include "model/branch_expansion.h"
#include "model/descriptor_storage.h"
#include "model/my_converter.h"

namespace kvtr {

namespace {

// An integer read as the descriptor's numbers are read: an optional sign and the digits that
// follow; whatever comes after them is ignored, and nothing readable gives 0. Out-of-range
// values stop at the limits of int.
int lenientInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Past the range of int the value is pinned just beyond it, so that any number of digits fits.
  constexpr std::int64_t kPinned = static_cast<std::int64_t>(std::numeric_limits<int>::max()) + 1;
  std::int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) v = std::min(v * 10 + (text[i] - '0'), kPinned);
  if (negative) v = -v;
  if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

double lenientDecimal(std::string_view text) {
  const DecimalReading r = ReadDecimal(text);
  return r.ok ? r.value : 0.0;
}

// A constant used as a count: its whole part, within the range of int.
int truncatedCount(double value) {
  if (std::isnan(value)) return 0;
  const double whole = std::trunc(value);
  if (whole >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (whole <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(whole);
}

std::string joinWords(const std::vector<std::string_view>& words, std::size_t from, char separator) {
  std::string out;
  for (std::size_t i = from; i < words.size(); ++i) {
    if (i > from) out += separator;
    out += words[i];
  }
  return out;
}

// "table1".."table5" select attribute tables 1..5; any other word none.
int attributeTableNumber(std::string_view word) {
  if (word.size() == 6 && startsWithNoCase(word, "table") && word[5] >= '1' && word[5] <= '5') return word[5] - '0';
  return 0;
}

}  // namespace

std::size_t DescriptorLoader::NameHash::operator()(std::string_view name) const noexcept {
  // FNV-1a over the name with Latin letters upper-cased, so that names equal without regard to
  // case hash alike.
  std::uint64_t h = 14695981039346656037ull;
  for (const char c : name) {
    h ^= static_cast<unsigned char>(toUpperAscii(c));
    h *= 1099511628211ull;
  }
  return static_cast<std::size_t>(h);
}

bool DescriptorLoader::NameEqual::operator()(std::string_view a, std::string_view b) const noexcept {
  return equalsNoCase(a, b);
}

void DescriptorLoader::append(NameMap<Chain>& index, std::vector<std::size_t>& next, std::string_view name,
                              std::size_t entry) {
  next.push_back(kNoEntry);
  auto it = index.find(name);
  if (it == index.end()) {
    index.emplace(std::string(name), Chain{entry, entry});
    return;
  }
  next[it->second.last] = entry;
  it->second.last = entry;
}

DescriptorLoader::DescriptorLoader(ParameterTree& tree, UserInterface& ui, DescriptorLoadOptions options)
    : tree_(tree), ui_(ui), options_(std::move(options)) {}

DescriptorLoader::~DescriptorLoader() = default;

bool DescriptorLoader::fail(const std::string& text, std::string_view caption) {
  // Every caption given here is a marked constant of descriptor_loader.h.
  ui_.showMessage(text, tr(caption.data()), MessageIcon::Stop);
  return false;
}

bool DescriptorLoader::tooFewWords(std::string_view line) {
  return fail(strprintf(trFormat("Недостаточно слов в строке описателя '%.*s'"), static_cast<int>(line.size()), line.data()),
              kDescriptorErrorCaption);
}

bool DescriptorLoader::ParseText(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start && !ParseDescriptorLine(text.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

bool DescriptorLoader::ParseDescriptorLine(std::string_view line) {
  // The words of the line, in a buffer kept from line to line.
  words_.clear();
  for (std::size_t i = 0; i < line.size();) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words_.push_back(line.substr(start, i - start));
  }
  const std::vector<std::string_view>& words = words_;
  if (words.size() < 2) return true;
  const std::string_view statement = words[0];
  if (statement == ";" || statement == "'") return true;

  if (equalsNoCase(statement, "parameter")) return parseParameter(words, line);
  if (equalsNoCase(statement, "rule")) return parseRuleOrInit(words, line, true);
  if (equalsNoCase(statement, "init")) return parseRuleOrInit(words, line, false);
  if (equalsNoCase(statement, "branch")) return parseBranch(words, line, BranchRole::Plain);
  if (equalsNoCase(statement, "scanners")) return parseBranch(words, line, BranchRole::Scanners);
  if (equalsNoCase(statement, "root")) return parseBranch(words, line, BranchRole::Root);
  if (equalsNoCase(statement, "const")) return parseConst(words, line);
  if (equalsNoCase(statement, "type")) return parseType(words, line);
  return fail(strprintf(trFormat("Непонятная команда в описателе '%.*s'"), static_cast<int>(line.size()), line.data()),
              kDescriptorErrorCaption);
}

bool DescriptorLoader::parseConst(const std::vector<std::string_view>& words, std::string_view line) {
  if (words.size() < 3) return tooFewWords(line);
  const std::string name(words[1]);
  if (constantIndex_.find(name) != constantIndex_.end()) {
    return fail(strprintf(trFormat("Константа '%s' уже определена!"), name.c_str()), kDescriptorErrorCaption);
  }
  constantIndex_.emplace(name, constants_.size());
  constants_.push_back({name, lenientDecimal(words[2])});
  return true;
}

bool DescriptorLoader::parseType(const std::vector<std::string_view>& words, std::string_view line) {
  if (words.size() < 3) return tooFewWords(line);
  const std::string name(words[1]);
  typeIndex_.insert_or_assign(name, types_.size());
  types_.push_back({name, joinWords(words, 2, ':')});
  return true;
}

bool DescriptorLoader::parseParameter(const std::vector<std::string_view>& words, std::string_view line) {
  if (words.size() < 4) return tooFewWords(line);
  ParamTemplate t;
  std::string_view name = words[1];
  if (!name.empty() && name.front() == '@') name.remove_prefix(1);
  t.name = std::string(name);
  const auto type = typeIndex_.find(words[2]);
  t.type = type != typeIndex_.end() ? types_[type->second].definition : std::string(words[2]);
  t.description = std::string(words[3]);
  if (words.size() >= 5 && equalsNoCase(words[4], "noattr")) t.hasAttributes = 0;
  if (words.size() >= 6) {
    t.indexMultiplicity = lenientInt(words[5]);
    std::string_view table = words[4];
    if (table.ends_with('+')) {
      t.attributeMark = 1;
      table.remove_suffix(1);
    } else if (table.ends_with('*')) {
      t.attributeMark = 2;
      table.remove_suffix(1);
    }
    t.attributeTable = attributeTableNumber(table);
  }
  append(templateIndex_, nextTemplate_, t.name, templates_.size());
  templates_.push_back(std::move(t));
  return true;
}

bool DescriptorLoader::parseRuleOrInit(const std::vector<std::string_view>& words, std::string_view line,
                                       bool isRule) {
  if (words.size() < (isRule ? 4u : 3u)) return tooFewWords(line);
  const auto found = templateIndex_.find(words[1]);
  if (found == templateIndex_.end()) {
    return fail(strprintf(trFormat("Параметр '%.*s' не определен."), static_cast<int>(words[1].size()), words[1].data()),
                kDescriptorTemplateErrorCaption);
  }
  ParamTemplate& t = templates_[found->second.first];
  if (isRule) {
    t.minimum = lenientDecimal(words[2]);
    t.maximum = lenientDecimal(words[3]);
  } else {
    t.pendingText = replaceAll(words[2], '_', ' ');
  }
  return true;
}

int DescriptorLoader::branchCount(std::string_view word) const {
  const int count = lenientInt(word);
  if (count != 0) return count;
  const auto c = constantIndex_.find(word);
  return c == constantIndex_.end() ? 0 : truncatedCount(constants_[c->second].value);
}

bool DescriptorLoader::parseBranch(const std::vector<std::string_view>& words, std::string_view line, BranchRole role) {
  if (words.size() < 5) return tooFewWords(line);
  const std::string title(words[1]);
  const int count = branchCount(words[2]);
  const int first = lenientInt(words[3]);
  const int second = lenientInt(words[4]);

  const auto tooMany = [&] {
    return fail(strprintf(trFormat("Описатель задает больше %zu ветвей и параметров: дерево не будет построено."),
                          options_.maxNodes),
                kDescriptorErrorCaption);
  };

  for (int number = 1; number <= count; ++number) {
    if (nodes_ >= options_.maxNodes) return tooMany();
    // The roles are taken before the children are read, so that a copy of the network-settings
    // branch among this instance's children takes the role over from it. A line that fails
    // leaves the roles as they were before it.
    DescBranch* const savedRoot = root_;
    DescBranch* const savedScanners = scanners_;
    DescBranch* const savedNetwork = network_;
    const std::size_t savedNodes = nodes_;
    const auto undo = [&] {
      root_ = savedRoot;
      scanners_ = savedScanners;
      network_ = savedNetwork;
      nodes_ = savedNodes;
    };

    auto branch = std::make_unique<DescBranch>(title, count, number, first, second);
    ++nodes_;
    std::size_t size = 1;
    int depth = 1;
    if (role == BranchRole::Root) root_ = branch.get();
    if (role == BranchRole::Scanners) scanners_ = branch.get();
    if (role == BranchRole::Plain && equalsNoCase(title, kNetworkSettingsTitle)) network_ = branch.get();

    for (std::size_t w = 5; w < words.size(); ++w) {
      bool matched = false;
      if (const auto t = templateIndex_.find(words[w]); t != templateIndex_.end()) {
        for (std::size_t index = t->second.first; index != kNoEntry; index = nextTemplate_[index]) {
          if (nodes_ >= options_.maxNodes) {
            undo();
            return tooMany();
          }
          branch->AddTemplate(templates_[index]);
          ++nodes_;
          ++size;
          matched = true;
        }
      }
      if (const auto b = branchIndex_.find(words[w]); b != branchIndex_.end()) {
        for (std::size_t index = b->second.first; index != kNoEntry; index = nextBranch_[index]) {
          if (branchDepths_[index] + 1 > options_.maxDepth) {
            undo();
            return fail(strprintf(trFormat("Ветви описателя вложены глубже %d уровней: дерево не будет построено."),
                                  options_.maxDepth),
                        kDescriptorErrorCaption);
          }
          if (branchSizes_[index] > options_.maxNodes - nodes_) {
            undo();
            return tooMany();
          }
          DescBranch* networkCopy = nullptr;
          branch->AddChild(branches_[index]->DeepCopy(network_, &networkCopy));
          if (networkCopy != nullptr) network_ = networkCopy;
          nodes_ += branchSizes_[index];
          size += branchSizes_[index];
          depth = std::max(depth, branchDepths_[index] + 1);
          matched = true;
        }
      }
      if (!matched) {
        undo();
        return fail(strprintf(trFormat("Что такое '%.*s', не ясно!"), static_cast<int>(words[w].size()), words[w].data()),
                    kDescriptorErrorCaption);
      }
    }

    append(branchIndex_, nextBranch_, title, branches_.size());
    branches_.push_back(std::move(branch));
    branchSizes_.push_back(size);
    branchDepths_.push_back(depth);
  }
  return true;
}

bool DescriptorLoader::Finish() {
  if (finished_) return tree_.hasTree();
  finished_ = true;
  tree_.Clear();

  std::unique_ptr<DescBranch> root;
  std::unique_ptr<DescBranch> scanners;
  for (auto& b : branches_) {
    if (b.get() == root_) root = std::move(b);
    else if (b.get() == scanners_) scanners = std::move(b);
  }
  tree_.SetTemplates(std::move(templates_));
  tree_.SetRoot(std::move(root));
  tree_.SetScanners(std::move(scanners));
  // A network-settings branch that ended up outside the kept tree goes with the load tables.
  tree_.SetNetworkSettings(network_);
  root_ = tree_.root();
  scanners_ = tree_.scanners();
  network_ = tree_.networkSettings();

  // The tables go before the expansion rather than after it: the branches that are not kept can
  // be as large as the tree, and their memory then serves the new parameters.
  constants_.clear();
  types_.clear();
  templates_.clear();
  branches_.clear();
  branchSizes_.clear();
  branchDepths_.clear();
  constantIndex_.clear();
  typeIndex_.clear();
  templateIndex_.clear();
  branchIndex_.clear();
  nextTemplate_.clear();
  nextBranch_.clear();

  ExpansionContext context;
  context.tree = &tree_;
  context.ui = &ui_;
  context.makeParameter = options_.makeParameter;
  if (tree_.root() != nullptr) {
    Expand(*tree_.root(), context, false, 0);
  } else {
    ui_.showMessage(tr("Не опредена корневая ветвь"), tr(kLoadErrorCaption.data()), MessageIcon::Stop);
  }
  if (tree_.scanners() != nullptr) {
    Expand(*tree_.scanners(), context, false, 0);
    if (options_.prepareScanner) ParameterTree::ForEachParameter(*tree_.scanners(), options_.prepareScanner);
  }
  return tree_.hasTree();
}

std::string_view DescriptorStreamName(std::uint32_t selector) {
  return selector == kDescriptorSelectorKvtr ? kDescriptorStreamName : std::string_view();
}

DescriptorLoadResult LoadDescriptorText(ParameterTree& tree, std::string_view text, UserInterface& ui,
                                        const DescriptorLoadOptions& options) {
  tree.Clear();
  DescriptorLoadResult result;
  result.streamRead = true;
  if (text.empty()) {
    ui.showMessage(tr(kDescriptorTreeFailedText.data()), tr(kLoadErrorCaption.data()), MessageIcon::Stop);
    return result;
  }
  DescriptorLoader loader(tree, ui, options);
  const bool linesTaken = loader.ParseText(text);
  if (!linesTaken) {
    ui.showMessage(tr(kDescriptorTreeFailedText.data()), tr(kLoadErrorCaption.data()), MessageIcon::Stop);
  }
  // Expansion runs on whatever root the lines before a failure declared.
  const bool hasRoot = loader.Finish();
  result.complete = linesTaken && hasRoot;
  return result;
}

DescriptorLoadResult LoadDescriptor(ParameterTree& tree, const std::filesystem::path& file, UserInterface& ui,
                                    const DescriptorLoadOptions& options) {
  tree.Clear();
  const std::string_view stream = DescriptorStreamName(tree.descriptorSelector);
  if (stream.empty()) return {};

  DescriptorReadResult read = readDescriptorFile(file, stream);
  if (read.status == DescriptorReadStatus::emptyText) {
    ui.showMessage(tr(kDescriptorTreeFailedText.data()), tr(kLoadErrorCaption.data()), MessageIcon::Stop);
    DescriptorLoadResult result;
    result.streamRead = true;
    result.detail = std::move(read.message);
    return result;
  }
  if (!read.ok()) {
    ui.showMessage(tr(kDescriptorOpenFailedText.data()), tr(kProgramTitle.data()), MessageIcon::Stop);
    DescriptorLoadResult result;
    result.detail = std::move(read.message);
    return result;
  }
  return LoadDescriptorText(tree, read.text, ui, options);
}

std::filesystem::path FindDescriptorFile(const std::filesystem::path& programDirectory) {
  const std::filesystem::path beside = programDirectory / kDescriptorFileName;
  std::error_code ec;
  if (std::filesystem::is_regular_file(beside, ec)) return beside;
  const std::filesystem::path installed = installedDataDirectory() / kDescriptorFileName;
  if (std::filesystem::is_regular_file(installed, ec)) return installed;
  return beside;
}

}  // namespace kvtr
