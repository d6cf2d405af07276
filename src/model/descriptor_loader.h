// The descriptor loader: reads the descriptor text of the module (statements "const", "type",
// "parameter", "rule", "init", "branch", "root", "scanners") into a parameter tree.
//
// A line is split into words at blanks and tabs; "_" stands for a blank inside a word. Lines of
// fewer than two words, and lines whose first word is ";" or "'", change nothing. Branches copy
// templates and other branches when their own line is read, so a "rule" or "init" after a branch
// line does not reach that branch's copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/catalogue.h"
#include "model/desc_branch.h"
#include "model/param_template.h"
#include "model/parameter.h"
#include "model/parameter_tree.h"

namespace kvtr {

class UserInterface;

// Every branch and every template copied into a branch counts as one node. Branches that hold
// other branches twice can double the tree with each line; the limit stops such a descriptor
// with a message long before memory runs out. A real descriptor has some hundreds of nodes.
inline constexpr std::size_t kDefaultMaxDescriptorNodes = 2'000'000;
// Real descriptors nest branches three or four deep.
inline constexpr int kDefaultMaxBranchDepth = 64;

struct DescriptorLoadOptions {
  std::size_t maxNodes = kDefaultMaxDescriptorNodes;
  int maxDepth = kDefaultMaxBranchDepth;
  // Called for every parameter under the scanners branch once it is expanded: the polling gives
  // it what it needs to be polled.
  std::function<void(Parameter&)> prepareScanner;
  // Creates each parameter during expansion; tests replace it to run out of memory on purpose.
  std::function<std::unique_ptr<Parameter>()> makeParameter;
};

// Message captions of the loader.
inline constexpr std::string_view kDescriptorErrorCaption = trMark("Ошибка в описателе");
inline constexpr std::string_view kDescriptorTemplateErrorCaption = trMark("Ошибка описателя");
inline constexpr std::string_view kLoadErrorCaption = trMark("Ошибка");
// The caption of the message when the descriptor file cannot be opened: the program's title.
inline constexpr std::string_view kProgramTitle = trMark("Конфигуратор КВТР");

// The branch title that makes a branch the module's network settings.
inline constexpr std::string_view kNetworkSettingsTitle = "Сетевые_параметры";

// The statement interpreter. It fills its own tables (constants, types, templates, branches) line
// by line; Finish() expands the root and the scanners branch into `tree` and drops the tables.
class DescriptorLoader {
 public:
  DescriptorLoader(ParameterTree& tree, UserInterface& ui, DescriptorLoadOptions options = {});
  ~DescriptorLoader();
  DescriptorLoader(const DescriptorLoader&) = delete;
  DescriptorLoader& operator=(const DescriptorLoader&) = delete;

  // One line of the descriptor. True: go on; false: the line was wrong, its message has been
  // shown, and loading stops. The lines before it stay applied.
  [[nodiscard]] bool ParseDescriptorLine(std::string_view line);
  // Every line of a text (split at "\n" and "\r"), up to the first that fails.
  [[nodiscard]] bool ParseText(std::string_view text);

  // Hands the templates, the root and the scanners branch to the tree, drops the constants, the
  // types and every other branch, then expands both branches (reporting a missing root) and
  // prepares the scanners. Returns whether a root exists.
  bool Finish();

  // The tables while loading.
  struct Constant {
    std::string name;
    double value = 0.0;
  };
  struct TypeDefinition {
    std::string name;
    std::string definition;
  };
  [[nodiscard]] const std::vector<Constant>& constants() const { return constants_; }
  [[nodiscard]] const std::vector<TypeDefinition>& types() const { return types_; }
  [[nodiscard]] const std::vector<ParamTemplate>& templates() const { return templates_; }
  [[nodiscard]] const std::vector<std::unique_ptr<DescBranch>>& branches() const { return branches_; }
  [[nodiscard]] DescBranch* root() const { return root_; }
  [[nodiscard]] DescBranch* scanners() const { return scanners_; }
  [[nodiscard]] DescBranch* networkSettings() const { return network_; }
  // Branches and template copies created so far.
  [[nodiscard]] std::size_t nodeCount() const { return nodes_; }

 private:
  enum class BranchRole { Plain, Root, Scanners };

  bool fail(const std::string& text, std::string_view caption);
  bool tooFewWords(std::string_view line);
  bool parseConst(const std::vector<std::string_view>& words, std::string_view line);
  bool parseType(const std::vector<std::string_view>& words, std::string_view line);
  bool parseParameter(const std::vector<std::string_view>& words, std::string_view line);
  bool parseRuleOrInit(const std::vector<std::string_view>& words, std::string_view line, bool isRule);
  bool parseBranch(const std::vector<std::string_view>& words, std::string_view line, BranchRole role);
  [[nodiscard]] int branchCount(std::string_view word) const;

  ParameterTree& tree_;
  UserInterface& ui_;
  DescriptorLoadOptions options_;

  std::vector<Constant> constants_;
  std::vector<TypeDefinition> types_;
  std::vector<ParamTemplate> templates_;
  std::vector<std::unique_ptr<DescBranch>> branches_;
  // Per entry of branches_: the nodes of its subtree and its depth in branches.
  std::vector<std::size_t> branchSizes_;
  std::vector<int> branchDepths_;
  // Names compare without regard to the case of Latin letters; lookups take the words of a line
  // as they are, without building a key.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept;
  };
  struct NameEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
  };
  template <typename T>
  using NameMap = std::unordered_map<std::string, T, NameHash, NameEqual>;
  // Every entry of one name, in file order: the first and the last, and per entry the next one.
  static constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);
  struct Chain {
    std::size_t first = kNoEntry;
    std::size_t last = kNoEntry;
  };
  static void append(NameMap<Chain>& index, std::vector<std::size_t>& next, std::string_view name, std::size_t entry);

  NameMap<std::size_t> constantIndex_;
  NameMap<std::size_t> typeIndex_;  // the last definition of a name
  NameMap<Chain> templateIndex_;
  NameMap<Chain> branchIndex_;
  std::vector<std::size_t> nextTemplate_;
  std::vector<std::size_t> nextBranch_;
  std::vector<std::string_view> words_;  // the words of the current line

  DescBranch* root_ = nullptr;
  DescBranch* scanners_ = nullptr;
  DescBranch* network_ = nullptr;
  std::size_t nodes_ = 0;
  bool finished_ = false;
};

// What loading gave.
struct DescriptorLoadResult {
  bool streamRead = false;  // the descriptor text was read from its storage
  bool complete = false;    // every line was taken and the tree has a root
  std::string detail;       // why the storage could not be read (for logs); empty otherwise
};

// The stream a descriptor selector names: "kvtr.tree" for 3, none for any other value.
[[nodiscard]] std::string_view DescriptorStreamName(std::uint32_t selector);

// Replaces the tree's contents with what the descriptor text (UTF-8) declares. Messages go to
// `ui` with the program's texts and captions.
DescriptorLoadResult LoadDescriptorText(ParameterTree& tree, std::string_view text, UserInterface& ui,
                                        const DescriptorLoadOptions& options = {});

// Replaces the tree's contents from the descriptor file: the stream that the tree's selector names
// is read, inflated and loaded. A selector that names no stream leaves the tree empty without a
// message. Reading never creates or changes a file: a missing descriptor stays missing.
DescriptorLoadResult LoadDescriptor(ParameterTree& tree, const std::filesystem::path& file, UserInterface& ui,
                                    const DescriptorLoadOptions& options = {});

// Where the descriptor is: beside the program, else in the installed data folder. When neither
// holds it, the place beside the program (so that the failure names that one).
[[nodiscard]] std::filesystem::path FindDescriptorFile(const std::filesystem::path& programDirectory);

}  // namespace kvtr
