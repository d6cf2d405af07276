// The parameter list as an HTML page ("parlist.html"): every branch of the loaded tree with its
// parameters (name, hash, description, type, indexing, range, attributes), followed by the
// fragment of operational parameters that the program carries beside itself. No values: the page
// documents the parameter set of the descriptor.
//
// The page is Windows-1251 throughout; the fragment is read from a file and put in as it stands.
// Building the page is a pure function of the tree and the fragment text, so that the layout is
// checked without files; writing replaces the target in one step, so an interrupted export never
// leaves half a page over an earlier one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvtr {

class DescBranch;
class ParameterTree;

// The file the export writes, in the current folder.
inline constexpr std::string_view kParameterListFileName = "parlist.html";
// The fragment of operational parameters appended to the page.
inline constexpr std::string_view kExportFragmentFileName = "parlist_fragment.html";

// Where a parameter sits among the indexes of the tree: how many indexes it exists at, and the
// lowest of them. A parameter that is nowhere indexed has count 0.
struct IndexRange {
  int count = 0;
  int first = 0;
};

// Looks up every indexed parameter of that name (without regard to case) under the root and the
// scanners branch. Two parameters at the same index count once.
[[nodiscard]] IndexRange LookupIndexRange(const ParameterTree& tree, std::string_view name);

// A series of numbered branches ("Вход №1 (счетчик)", "Вход №2 (счетчик)") shares one caption
// ("Вход №... (счетчик)"): the text after "№" up to the next blank gives way to "...". Without a
// blank after "№" everything after it goes ("Вход №7" gives "Вход №").
[[nodiscard]] std::string SeriesCaption(std::string_view title);

// The page, UTF-8, for a tree and the fragment text (UTF-8); no fragment leaves the
// operational-parameters part out and closes the page all the same.
[[nodiscard]] std::string ParameterListPageText(const ParameterTree& tree, const std::optional<std::string>& fragment);

// The same page as the bytes of the file: Windows-1251. Characters the code page lacks become
// '?'; `lossless`, when given, tells whether there were none.
[[nodiscard]] std::vector<std::uint8_t> ParameterListPage(const ParameterTree& tree,
                                                          const std::optional<std::string>& fragment,
                                                          bool* lossless = nullptr);

// Where the fragment is: beside the program, else in the installed data folder; none when neither
// holds it.
[[nodiscard]] std::optional<std::filesystem::path> FindExportFragment(const std::filesystem::path& programDirectory);

// Reads the fragment file as UTF-8 text. The fragment is shipped in UTF-8; a file in Windows-1251
// (a fragment edited with the program's own code page) is recognised by not being valid UTF-8 and
// is decoded. None, with the cause in `error`, when the file cannot be read.
[[nodiscard]] std::optional<std::string> LoadExportFragment(const std::filesystem::path& path,
                                                            std::string* error = nullptr);

// Builds the page and replaces `target` with it. False, with a text naming the file and the cause
// in `error`, when the file cannot be written; the old file then stays as it was.
[[nodiscard]] bool WriteParameterList(const std::filesystem::path& target, const ParameterTree& tree,
                                      const std::optional<std::string>& fragment, std::string* error = nullptr);

}  // namespace kvtr
