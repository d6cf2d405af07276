#include "app/html_export.h"

#include <algorithm>
#include <array>
#include <set>

#include "common/program_directory.h"
#include "common/atomic_file.h"
#include "common/format.h"
#include "common/strings.h"
#include "model/desc_branch.h"
#include "model/my_converter.h"
#include "model/parameter.h"
#include "model/parameter_tree.h"
#include "model/text_encoding.h"
#include "protocol/frame_codec.h"

namespace kvtr {

namespace {

// The page head, up to the opening of the table of ordinary parameters. The style attribute is
// kept as the page has always carried it, although browsers read no font size from it.
constexpr std::string_view kPageHead =
    "<html>\n<head>\n<meta HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1251\">\n"
    "\t<title>Список параметров прибора КВТР</title>\n</head>\n\n<body>\n"
    "<h4>Список обычных (неоперативных) параметров</h4>\n"
    "<table border=1 width=\"100%\" style=\"font-size=12px\">\n";
constexpr std::string_view kTableEnd = "</table>\n\n<br>\n";
// The fragment leaves its last table open: this closes it together with the page.
constexpr std::string_view kPageEnd = "</TABLE>\n</body>\n</html>";

constexpr std::string_view kColumnHeader =
    "<tr>\n"
    "<td><strong><b>№</b></strong></td>\n"
    "<td><strong><b>Команда</b></strong></td>\n"
    "<td><strong><b>Хеш</b></strong></td>\n"
    "<td><strong><b>Описание</b></strong></td>\n"
    "<td><strong><b>Тип</b></strong></td>\n"
    "<td><strong><b>Индексация</b></strong></td>\n"
    "<td><strong><b>Диапазон значений</b></strong></td>\n"
    "<td><strong><b>Атрибуты</b></strong></td>\n"
    "</tr>\n";

// Type words shown as they are; any other first word makes the type an enumeration.
constexpr std::array<std::string_view, 8> kPlainTypes = {"STORED_DOT", "DEC_dot", "CLK_frm", "string",
                                                         "ASCI",       "name",    "int",     "float"};

constexpr std::string_view kNumberSign = "№";

// Only the angle brackets are escaped: descriptions and enumeration texts of the descriptor
// carry them ("<hide>") and the page has always shown them so.
std::string escapeAngles(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      out += c;
    }
  }
  return out;
}

void appendCell(std::string& page, std::string_view text) {
  page += "\t<td>";
  page += text;
  page += "\t</td>\n";
}

std::string typeCell(std::string_view type) {
  const std::vector<std::string_view> pieces = splitTokens(type, ":");
  const std::string_view base = pieces.empty() ? std::string_view() : pieces.front();
  const bool plain = std::any_of(kPlainTypes.begin(), kPlainTypes.end(),
                                 [&](std::string_view word) { return equalsNoCase(base, word); });
  if (plain) return escapeAngles(base);
  // An enumeration: the list is numbered from 0, as the module numbers the values.
  std::string cell = "\n\t<ol start=0>\n";
  for (const std::string_view piece : pieces) {
    cell += "\t\t<li> ";
    cell += escapeAngles(replaceAll(piece, '_', ' '));
    cell += "\n";
  }
  cell += "\t</ol>";
  return cell;
}

std::string indexingCell(const ParameterTree& tree, std::string_view name) {
  const IndexRange range = LookupIndexRange(tree, name);
  if (range.count == 0) return "без индекса";
  return strprintf("0,%i..%i", range.first, range.count);
}

std::string rangeCell(const Parameter& parameter) {
  if (!(parameter.maximum > parameter.minimum)) return "нет ограничений";
  return "от " + FormatFixed3(parameter.minimum) + " до " + FormatFixed3(parameter.maximum);
}

void appendParameterRow(std::string& page, const ParameterTree& tree, const Parameter& parameter, int number) {
  page += strprintf("<tr>\n\t<td>%i\t</td>\n", number);
  appendCell(page, parameter.name);
  appendCell(page, strprintf("%04X", static_cast<unsigned>(hashName(parameter.name))));
  appendCell(page, escapeAngles(parameter.description));
  appendCell(page, typeCell(parameter.type));
  appendCell(page, indexingCell(tree, parameter.name));
  appendCell(page, rangeCell(parameter));
  appendCell(page, parameter.AttributeModeText());
  page += "</tr>\n";
}

// The tables of a list of sibling branches. Rows are numbered from 1 across the siblings; the
// branches below each one get numbers of their own.
void appendBranchTables(std::string& page, const ParameterTree& tree,
                        const std::vector<std::unique_ptr<DescBranch>>& branches, const std::string& prefix) {
  int number = 1;
  std::optional<std::string> previous;
  for (const auto& branch : branches) {
    const std::string caption = SeriesCaption(branch->title);
    // The later instances of a series of numbered branches repeat the first one's list.
    if (previous && *previous == caption) continue;
    previous = caption;

    const auto& parameters = branch->parameters();
    if (!parameters.empty()) {
      // A lone parameter without branches below reads as a row of the table above it.
      if (!(parameters.size() == 1 && branch->children.empty())) {
        page += "<tr><td colspan=8 bgColor=\"#ffffaa\"><b>";
        page += prefix;
        page += caption;
        page += "</b></td></tr>\n";
        page += kColumnHeader;
      }
      for (const auto& parameter : parameters) appendParameterRow(page, tree, *parameter, number++);
    }
    appendBranchTables(page, tree, branch->children, prefix + caption + "\\");
  }
}

void collectIndexes(const DescBranch& branch, std::string_view name, std::set<int>& indexes) {
  for (const auto& parameter : branch.parameters()) {
    if (parameter->hasIndex && equalsNoCase(parameter->name, name)) indexes.insert(parameter->index);
  }
  for (const auto& child : branch.children) collectIndexes(*child, name, indexes);
}

}  // namespace

IndexRange LookupIndexRange(const ParameterTree& tree, std::string_view name) {
  std::set<int> indexes;
  for (const DescBranch* branch : {tree.root(), tree.scanners()}) {
    if (branch != nullptr) collectIndexes(*branch, name, indexes);
  }
  IndexRange range;
  if (!indexes.empty()) {
    range.count = static_cast<int>(indexes.size());
    range.first = *indexes.begin();
  }
  return range;
}

std::string SeriesCaption(std::string_view title) {
  const std::size_t sign = title.find(kNumberSign);
  if (sign == std::string_view::npos) return std::string(title);
  const std::size_t afterSign = sign + kNumberSign.size();
  const std::size_t blank = title.find(' ', afterSign);
  std::string caption(title.substr(0, afterSign));
  if (blank != std::string_view::npos) {
    caption += "...";
    caption += title.substr(blank);
  }
  return caption;
}

std::string ParameterListPageText(const ParameterTree& tree, const std::optional<std::string>& fragment) {
  std::string page(kPageHead);
  if (const DescBranch* root = tree.root()) appendBranchTables(page, tree, root->children, std::string());
  page += kTableEnd;
  if (fragment) page += *fragment;
  page += kPageEnd;
  return page;
}

std::vector<std::uint8_t> ParameterListPage(const ParameterTree& tree, const std::optional<std::string>& fragment,
                                            bool* lossless) {
  const std::string bytes = utf8ToCp1251(ParameterListPageText(tree, fragment), lossless);
  return {bytes.begin(), bytes.end()};
}

std::optional<std::filesystem::path> FindExportFragment(const std::filesystem::path& programDirectory) {
  std::error_code ec;
  for (const std::filesystem::path& folder : {programDirectory, installedDataDirectory()}) {
    const std::filesystem::path candidate = folder / kExportFragmentFileName;
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  }
  return std::nullopt;
}

std::optional<std::string> LoadExportFragment(const std::filesystem::path& path, std::string* error) {
  std::vector<std::uint8_t> bytes;
  if (!readWholeFile(path, bytes, error)) return std::nullopt;
  std::string text(bytes.begin(), bytes.end());
  if (isValidUtf8(text)) {
    // A byte-order mark, which some editors put first, is no part of the page.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(kByteOrderMark)) text.erase(0, kByteOrderMark.size());
    return text;
  }
  return cp1251ToUtf8(text);
}

bool WriteParameterList(const std::filesystem::path& target, const ParameterTree& tree,
                        const std::optional<std::string>& fragment, std::string* error) {
  const std::vector<std::uint8_t> page = ParameterListPage(tree, fragment);
  return writeFileAtomically(target, page, error);
}

}  // namespace kvtr
