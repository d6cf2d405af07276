// Every --help of kvtr and kvtr-sim is in the operator's language: under a Russian locale no
// English sentence slips in, under an English one no Russian letter is left.
//
// The rule: a line of help may not hold three Latin words in a row, a Latin word being a blank-
// separated token of lower-case letters a-z only (quotes and brackets around it aside). Option
// names ("--port"), values ("none|even|odd"), paths and file names hold other characters and so
// are no words; a comma, semicolon, colon or point after a word ends the run, so that a list of
// keywords ("show, tree, poll") is no sentence. Two words in a row ("kvtr scan") are allowed.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "unit/tools/cli/run_tool.h"

namespace kvtr::testing {
namespace {

bool isLatinWord(std::string_view token) {
  while (!token.empty() && std::string_view("«\"'([").find(token.front()) != std::string_view::npos) token.remove_prefix(1);
  // "«" and "»" are two bytes in UTF-8: strip them as whole sequences.
  auto stripPrefix = [&](std::string_view mark) {
    while (token.starts_with(mark)) token.remove_prefix(mark.size());
  };
  auto stripSuffix = [&](std::string_view mark) {
    while (token.ends_with(mark)) token.remove_suffix(mark.size());
  };
  stripPrefix("«");
  for (const std::string_view mark : {"»", ")", "]", "\"", "'", ",", ";", ":", ".", "»"}) stripSuffix(mark);
  if (token.empty()) return false;
  for (const char c : token) {
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}

bool endsPhrase(std::string_view token) {
  while (!token.empty() && std::string_view(")]\"'").find(token.back()) != std::string_view::npos) token.remove_suffix(1);
  if (token.ends_with("»")) token.remove_suffix(std::string_view("»").size());
  return !token.empty() && std::string_view(",;:.!?").find(token.back()) != std::string_view::npos;
}

// The first line of `text` with three Latin words in a row; empty when there is none.
std::string englishLine(const std::string& text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    int run = 0;
    std::size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      std::size_t j = i;
      while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
      if (j == i) break;
      const std::string_view token(line.data() + i, j - i);
      run = isLatinWord(token) ? run + 1 : 0;
      if (run >= 3) return line;
      if (endsPhrase(token)) run = 0;
      i = j;
    }
    start = end + 1;
  }
  return {};
}

TEST(HelpLanguage, TheRuleFindsEnglishAndPassesTheProgramsOwnLines) {
  const struct {
    const char* line;
    bool english;
  } rows[] = {
      {"Print the 16-bit hash of each parameter name.", true},
      {"  --port PORT     the serial port (default: the stored one)", true},
      {"Usage: kvtr read FILE", false},
      {"  --parity none|even|odd  четность: нет, четная, нечетная", false},
      {"  --json     вывод в формате JSON (show, tree, poll, watch)", false},
      {"«kvtr scan» и «kvtr apply»", false},
      {"faults off; delay МС; wire-time on|off", false},
  };
  for (const auto& row : rows) EXPECT_EQ(!englishLine(row.line).empty(), row.english) << row.line;
}

// Every help page under the locale `lang`, named by its command line: kvtr --help, each command's
// --help and kvtr-sim --help. The commands are read from the list that follows `heading`: its
// lines are two blanks, then the name.
std::vector<std::pair<std::string, ToolRun>> helpPages(const char* lang, const std::string& heading) {
  std::vector<std::pair<std::string, ToolRun>> pages;
  const ToolRun top = runTool("kvtr", {"--help"}, lang);
  pages.emplace_back("kvtr --help", top);
  const std::size_t list = top.out.find(heading);
  EXPECT_NE(list, std::string::npos) << top.out;
  if (list == std::string::npos) return pages;
  std::size_t commands = 0;
  for (std::size_t at = list + 1; (at = top.out.find("\n  ", at)) != std::string::npos; ++at) {
    if (top.out.compare(at + 3, 1, " ") == 0) continue;  // the summary under a command
    const std::size_t end = top.out.find_first_of(" \n", at + 3);
    const std::string command = top.out.substr(at + 3, end - at - 3);
    pages.emplace_back("kvtr " + command + " --help", runTool("kvtr", {command, "--help"}, lang));
    ++commands;
  }
  EXPECT_GE(commands, 25u) << top.out;
  pages.emplace_back("kvtr-sim --help", runTool("kvtr-sim", {"--help"}, lang));
  return pages;
}

TEST(HelpLanguage, UnderARussianLocaleEveryHelpOfTheToolAndTheSimulatorIsRussian) {
  for (const auto& [name, run] : helpPages("ru_RU.UTF-8", "\nКоманды:\n")) {
    EXPECT_EQ(run.exitCode, 0) << name;
    EXPECT_NE(run.out, "") << name;
    EXPECT_EQ(englishLine(run.out), "") << name;
  }
}

// English whether or not the machine has the en_US locale installed.
TEST(HelpLanguage, UnderAnEnglishLocaleEveryHelpOfTheToolAndTheSimulatorIsEnglish) {
  for (const auto& [name, run] : helpPages("en_US.UTF-8", "\nCommands:\n")) {
    EXPECT_EQ(run.exitCode, 0) << name;
    EXPECT_NE(englishLine(run.out), "") << name;
    // Cyrillic letters are U+0400..U+04FF: two bytes in UTF-8, led by 0xD0..0xD3.
    const std::size_t cyrillic = run.out.find_first_of("\xD0\xD1\xD2\xD3");
    EXPECT_EQ(cyrillic, std::string::npos) << name << ":\n" << run.out.substr(run.out.rfind('\n', cyrillic) + 1, 200);
  }
}

}  // namespace
}  // namespace kvtr::testing
